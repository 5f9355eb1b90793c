#include "SafeTensors.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

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
    uint64_t headerLength = 0;
    for (int i = 7; i >= 0; --i)
        headerLength = (headerLength << 8) | base[i];
    if (headerLength > uint64_t(size - 8) || headerLength > (100u << 20))
        throw std::runtime_error("bad header length in " + path);
    QJsonParseError error;
    const QJsonDocument header =
        QJsonDocument::fromJson(QByteArray::fromRawData(reinterpret_cast<const char *>(base + 8), qsizetype(headerLength)), &error);
    if (error.error != QJsonParseError::NoError || !header.isObject())
        throw std::runtime_error("bad header in " + path);

    TensorFile out;
    out.mapping = file;
    const uchar *data = base + 8 + headerLength;
    const uint64_t dataSize = uint64_t(size) - 8 - headerLength;
    const QJsonObject object = header.object();
    for (auto it = object.begin(); it != object.end(); ++it) {
        const QJsonObject entry = it->toObject();
        if (it.key() == QLatin1String("__metadata__")) {
            for (auto m = entry.begin(); m != entry.end(); ++m)
                out.metadata[m.key().toStdString()] = m->toString().toStdString();
            continue;
        }
        const std::string name = it.key().toStdString();
        const QString dtype = entry.value(QLatin1String("dtype")).toString();
        torch::ScalarType type;
        int64_t elementSize;
        if (dtype == QLatin1String("F32")) { type = torch::kFloat32; elementSize = 4; }
        else if (dtype == QLatin1String("I64")) { type = torch::kInt64; elementSize = 8; }
        else throw std::runtime_error("unsupported dtype of " + name);
        std::vector<int64_t> shape;
        int64_t count = 1;
        for (const QJsonValue &v : entry.value(QLatin1String("shape")).toArray()) {
            const double d = v.toDouble(-1);
            if (d < 0 || d > 1e9) throw std::runtime_error("bad shape of " + name);
            shape.push_back(int64_t(d));
            count *= int64_t(d);
        }
        const QJsonArray offsets = entry.value(QLatin1String("data_offsets")).toArray();
        if (offsets.size() != 2) throw std::runtime_error("bad offsets of " + name);
        const double begin = offsets[0].toDouble(-1), end = offsets[1].toDouble(-1);
        if (begin < 0 || end < begin || uint64_t(end) > dataSize || int64_t(end - begin) != count * elementSize)
            throw std::runtime_error("bad offsets of " + name);
        void *at = const_cast<uchar *>(data + uint64_t(begin));
        torch::Tensor t = torch::from_blob(at, shape, torch::TensorOptions().dtype(type));
        // Misaligned data is copied; aligned data stays in the map.
        if (reinterpret_cast<uintptr_t>(at) % uintptr_t(elementSize) != 0) t = t.clone();
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
    QSaveFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::WriteOnly)) throw std::runtime_error("cannot write " + path);
    char length[8];
    uint64_t n = uint64_t(json.size());
    for (int i = 0; i < 8; ++i, n >>= 8)
        length[i] = char(n & 0xff);
    file.write(length, 8);
    file.write(json);
    for (const torch::Tensor &t : ordered)
        file.write(static_cast<const char *>(t.data_ptr()), qint64(t.numel() * t.element_size()));
    if (!file.commit()) throw std::runtime_error("cannot write " + path);
}
