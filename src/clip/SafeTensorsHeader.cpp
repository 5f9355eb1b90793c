#include "SafeTensorsHeader.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>
#include <stdexcept>

namespace {

constexpr uint64_t kMaxHeaderLength = 100u << 20;
// Well below 2^53, so every such number is an exact integer in a JSON double, and the
// products below stay inside 64 bits.
constexpr double kMaxCount = double(uint64_t(1) << 50);

// A JSON number that is a whole number in [0, kMaxCount]; throws otherwise.
uint64_t wholeNumber(const QJsonValue &value, const std::string &what)
{
    if (!value.isDouble()) throw std::runtime_error(what);
    const double d = value.toDouble();
    if (!(d >= 0 && d <= kMaxCount) || std::floor(d) != d) throw std::runtime_error(what);
    return uint64_t(d);
}

} // namespace

SafeTensorsHeader parseSafeTensorsHeader(const unsigned char *bytes, size_t size)
{
    if (size < 8) throw std::runtime_error("not a safetensors file");
    uint64_t headerLength = 0;
    for (int i = 7; i >= 0; --i)
        headerLength = (headerLength << 8) | bytes[i];
    if (headerLength > uint64_t(size - 8) || headerLength > kMaxHeaderLength)
        throw std::runtime_error("bad header length");
    QJsonParseError error;
    const QJsonDocument header = QJsonDocument::fromJson(
        QByteArray::fromRawData(reinterpret_cast<const char *>(bytes + 8), qsizetype(headerLength)), &error);
    if (error.error != QJsonParseError::NoError || !header.isObject())
        throw std::runtime_error("bad header");

    SafeTensorsHeader out;
    out.dataOffset = 8 + headerLength;
    const uint64_t dataSize = uint64_t(size) - out.dataOffset;
    const QJsonObject object = header.object();
    for (auto it = object.begin(); it != object.end(); ++it) {
        const QJsonObject entry = it->toObject();
        if (it.key() == QLatin1String("__metadata__")) {
            for (auto m = entry.begin(); m != entry.end(); ++m)
                out.metadata[m.key().toStdString()] = m->toString().toStdString();
            continue;
        }
        const std::string name = it.key().toStdString();
        SafeTensorsEntry tensor;
        const QString dtype = entry.value(QLatin1String("dtype")).toString();
        if (dtype == QLatin1String("F32")) tensor.dtype = SafeTensorsEntry::DType::Float32;
        else if (dtype == QLatin1String("I64")) tensor.dtype = SafeTensorsEntry::DType::Int64;
        else throw std::runtime_error("unsupported dtype of " + name);

        // The element count is capped just past what the data could hold, so it cannot
        // wrap around however many dimensions the shape lists (a zero still empties it).
        const std::string badShape = "bad shape of " + name;
        const uint64_t tooMany = dataSize / uint64_t(tensor.elementSize()) + 1;
        uint64_t count = 1;
        for (const QJsonValue &v : entry.value(QLatin1String("shape")).toArray()) {
            const uint64_t d = wholeNumber(v, badShape);
            tensor.shape.push_back(int64_t(d));
            uint64_t product = 0;
            count = __builtin_mul_overflow(count, d, &product) || product > tooMany ? tooMany : product;
        }
        const std::string badOffsets = "bad offsets of " + name;
        const QJsonArray offsets = entry.value(QLatin1String("data_offsets")).toArray();
        if (offsets.size() != 2) throw std::runtime_error(badOffsets);
        tensor.begin = wholeNumber(offsets[0], badOffsets);
        tensor.end = wholeNumber(offsets[1], badOffsets);
        if (tensor.end < tensor.begin || tensor.end > dataSize || count >= tooMany
            || tensor.end - tensor.begin != count * uint64_t(tensor.elementSize()))
            throw std::runtime_error(badOffsets);
        out.entries[name] = std::move(tensor);
    }
    return out;
}
