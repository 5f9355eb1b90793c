#include "SafeTensors.h"
#include "SafeTensorsHeader.h"
#include "TowerShapes.h"
#include "library/AtomicFileSave.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <stdexcept>

const torch::Tensor &TensorFile::at(const std::string &name) const
{
    const auto found = tensors.find(name);
    if (found == tensors.end()) throw std::runtime_error("missing tensor " + name);
    return found->second;
}

TensorFile readSafeTensors(const std::string &path)
{
    auto file = std::make_shared<QFile>(QString::fromStdString(path));
    if (!file->open(QIODevice::ReadOnly)) throw std::runtime_error("cannot open " + path);
    const qint64 size = file->size();
    if (size < 8) throw std::runtime_error("not a safetensors file: " + path);
    uchar *base = file->map(0, size);
    if (!base) throw std::runtime_error("cannot map " + path);
    SafeTensorsHeader header;
    try {
        header = parseSafeTensorsHeader(base, size_t(size));
    } catch (const std::runtime_error &e) {
        throw std::runtime_error(std::string(e.what()) + " in " + path);
    }
    if (const auto bad = towershapes::problem(header.entries)) throw std::runtime_error(*bad + " in " + path);

    TensorFile out;
    out.mapping = file;
    out.metadata = std::move(header.metadata);
    const uchar *data = base + header.dataOffset;
    for (const auto &[name, entry] : header.entries) {
        const torch::ScalarType type =
            entry.dtype == SafeTensorsEntry::DType::Int64 ? torch::kInt64 : torch::kFloat32;
        void *at = const_cast<uchar *>(data + entry.begin);
        torch::Tensor t = torch::from_blob(at, entry.shape, torch::TensorOptions().dtype(type));
        // Misaligned data is copied; aligned data stays in the map.
        if (reinterpret_cast<uintptr_t>(at) % uintptr_t(entry.elementSize()) != 0) t = t.clone();
        out.tensors[name] = t;
    }
    return out;
}

void writeSafeTensors(const std::string &path, const std::map<std::string, torch::Tensor> &tensors,
                      const std::map<std::string, std::string> &metadata)
{
    QJsonObject header;
    QJsonObject meta;
    for (const auto &[k, v] : metadata)
        meta.insert(QString::fromStdString(k), QString::fromStdString(v));
    header.insert(QStringLiteral("__metadata__"), meta);
    std::vector<torch::Tensor> ordered;
    uint64_t offset = 0;
    for (const auto &[name, tensor] : tensors) {
        torch::Tensor t = tensor.contiguous();
        const bool isFloat = t.scalar_type() == torch::kFloat32;
        if (!isFloat && t.scalar_type() != torch::kInt64) throw std::runtime_error("unsupported dtype of " + name);
        QJsonArray shape;
        for (int64_t d : t.sizes())
            shape.append(qint64(d));
        const uint64_t bytes = uint64_t(t.numel()) * uint64_t(t.element_size());
        header.insert(QString::fromStdString(name),
                      QJsonObject{{"dtype", isFloat ? "F32" : "I64"},
                                  {"shape", shape},
                                  {"data_offsets", QJsonArray{qint64(offset), qint64(offset + bytes)}}});
        offset += bytes;
        ordered.push_back(t);
    }
    QByteArray json = QJsonDocument(header).toJson(QJsonDocument::Compact);
    while (json.size() % 8 != 0)
        json.append(' ');
    char length[8];
    uint64_t n = uint64_t(json.size());
    for (int i = 0; i < 8; ++i, n >>= 8)
        length[i] = char(n & 0xff);
    const bool saved = AtomicFileSave::save(QString::fromStdString(path), [&](const AtomicFileSave::Sink &sink) {
        if (!sink(length, 8) || !sink(json.constData(), json.size())) return false;
        for (const torch::Tensor &t : ordered)
            if (!sink(static_cast<const char *>(t.data_ptr()), qint64(t.numel() * t.element_size()))) return false;
        return true;
    });
    if (!saved) throw std::runtime_error("cannot write " + path);
}
