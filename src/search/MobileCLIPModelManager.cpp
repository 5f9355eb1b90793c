#include "search/MobileCLIPModelManager.h"

#include "library/L10n.h"
#include "search/MobileCLIPService.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QStandardPaths>
#include <QUuid>

#include <zlib.h>

#include <cmath>
#include <cstring>

namespace {

QString baseURL(const char *key, const char *fallback)
{
    QString base = QSettings().value(QString::fromLatin1(key)).toString().trimmed();
    if (base.isEmpty()) base = QString::fromLatin1(fallback);
    while (base.endsWith('/')) base.chop(1);
    return base;
}

struct TensorInfo {
    QString dtype;
    std::vector<qint64> shape;
};

struct Header {
    QHash<QString, TensorInfo> tensors;
};

qint64 dtypeSize(const QString &dtype)
{
    if (dtype == "F32" || dtype == "I32") return 4;
    if (dtype == "F64" || dtype == "I64") return 8;
    if (dtype == "F16" || dtype == "BF16" || dtype == "I16") return 2;
    if (dtype == "U8" || dtype == "I8" || dtype == "BOOL") return 1;
    return 0;
}

// Reads and checks the whole file; the header on success, else the reason in *error.
std::optional<Header> readTensorFile(const QString &path, QString *error)
{
    const QString name = QFileInfo(path).fileName();
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("%1: cannot be read").arg(name);
        return std::nullopt;
    }
    const qint64 size = f.size();
    uchar *map = size > 0 ? f.map(0, size) : nullptr;
    if (!map || size < 8) {
        *error = QStringLiteral("%1: not a tensor file").arg(name);
        return std::nullopt;
    }
    quint64 headerLength = 0;
    for (int i = 7; i >= 0; --i) headerLength = (headerLength << 8) | map[i];
    if (headerLength < 2 || headerLength > quint64(size - 8) || headerLength > 100u * 1024 * 1024) {
        *error = QStringLiteral("%1: the header length does not fit the file").arg(name);
        return std::nullopt;
    }
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(
        QByteArray::fromRawData(reinterpret_cast<const char *>(map + 8), qsizetype(headerLength)), &parseError);
    if (parseError.error != QJsonParseError::NoError || !doc.isObject()) {
        *error = QStringLiteral("%1: the header does not parse").arg(name);
        return std::nullopt;
    }
    const uchar *data = map + 8 + headerLength;
    const qint64 dataSize = size - 8 - qint64(headerLength);
    Header header;
    const QJsonObject root = doc.object();
    for (auto it = root.begin(); it != root.end(); ++it) {
        if (it.key() == "__metadata__") continue;
        const QJsonObject t = it.value().toObject();
        TensorInfo info;
        info.dtype = t.value("dtype").toString();
        qint64 count = 1;
        for (const QJsonValue &d : t.value("shape").toArray()) {
            const qint64 n = d.toInteger(-1);
            if (n < 0 || (n > 0 && count > (qint64(1) << 40) / n)) {
                *error = QStringLiteral("%1: tensor %2 has a bad shape").arg(name, it.key());
                return std::nullopt;
            }
            info.shape.push_back(n);
            count *= n;
        }
        const QJsonArray offsets = t.value("data_offsets").toArray();
        const qint64 begin = offsets.size() == 2 ? offsets[0].toInteger(-1) : -1;
        const qint64 end = offsets.size() == 2 ? offsets[1].toInteger(-1) : -1;
        const qint64 elementSize = dtypeSize(info.dtype);
        if (elementSize == 0 || begin < 0 || end < begin || end > dataSize || end - begin != count * elementSize) {
            *error = QStringLiteral("%1: tensor %2 does not lie inside the file").arg(name, it.key());
            return std::nullopt;
        }
        if (info.dtype == "F32") {
            const uchar *p = data + begin;
            for (qint64 i = 0; i < count; ++i) {
                float v;
                std::memcpy(&v, p + i * 4, 4);
                if (!std::isfinite(v)) {
                    *error = QStringLiteral("%1: tensor %2 holds a value that is not finite").arg(name, it.key());
                    return std::nullopt;
                }
            }
        } else if (info.dtype != "I64") {
            // The published file is float32 with int64 counters; other types are not read.
            *error = QStringLiteral("%1: tensor %2 has the unexpected type %3").arg(name, it.key(), info.dtype);
            return std::nullopt;
        }
        header.tensors.insert(it.key(), info);
    }
    if (header.tensors.isEmpty()) {
        *error = QStringLiteral("%1: holds no tensors").arg(name);
        return std::nullopt;
    }
    return header;
}

} // namespace

std::vector<MobileCLIPModelManager::DownloadFile> MobileCLIPModelManager::downloadFiles()
{
    const QString model = baseURL(kModelBaseURLKey, kDefaultModelBaseURL);
    const QString source = baseURL(kVocabularyBaseURLKey, kDefaultVocabularyBaseURL);
    // The model revision is pinned: a later upload must not change what gets installed. Its
    // file is about 398 MB, the size the download texts give; installed, the fused fp32
    // towers and the unpacked vocabulary come to about 400 MB.
    return {
        {model + "/apple/MobileCLIP-S2-OpenCLIP/resolve/a406a1bd0b882b27509e608f3cb199de52010c4d/" +
             QLatin1String(kDownloadedModelName),
         QString::fromLatin1(kDownloadedModelName), 398'000'000},
        {source + "/openai/CLIP/main/clip/" + QLatin1String(kDownloadedVocabName),
         QString::fromLatin1(kDownloadedVocabName), 1'356'917},
    };
}

QString MobileCLIPModelManager::modelsDirectory()
{
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (base.isEmpty()) base = QDir::tempPath();
    return base + "/Lumenkite/Models";
}

bool MobileCLIPModelManager::isInstalled()
{
    const QDir dir(modelsDirectory());
    for (const char *name : {kImageModelName, kTextModelName, kVocabName})
        if (!QFileInfo::exists(dir.filePath(QString::fromLatin1(name)))) return false;
    return true;
}

namespace {
const QString kStagingPrefix = QStringLiteral(".download-");
}

qint64 MobileCLIPModelManager::installedSizeBytes()
{
    const QString root = modelsDirectory() + "/";
    qint64 total = 0;
    QDirIterator it(modelsDirectory(), QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        const QFileInfo info = it.fileInfo();
        // A download under way (or one a crash left) is not installed.
        if (info.filePath().startsWith(root + kStagingPrefix)) continue;
        if (info.isFile() && !info.isSymLink()) total += info.size();
    }
    return total;
}

void MobileCLIPModelManager::sweepStagingFolders(const QDateTime &before)
{
    const QDir dir(modelsDirectory());
    for (const QFileInfo &info : dir.entryInfoList({kStagingPrefix + "*"}, QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot))
        if (!info.isSymLink() && info.lastModified() < before) QDir(info.filePath()).removeRecursively();
}

std::optional<QString> MobileCLIPModelManager::removeInstalledModels()
{
    QDir dir(modelsDirectory());
    std::optional<QString> error;
    if (dir.exists() && !dir.removeRecursively())
        error = QStringLiteral("Could not remove %1").arg(dir.path());
    // Some files may be gone even when others stayed: the service must not keep using them.
    MobileCLIPService::resetShared();
    return error;
}

QString MobileCLIPModelManager::makeStagingFolder()
{
    const QString path = modelsDirectory() + "/" + kStagingPrefix + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    if (!QDir().mkpath(path)) return {};
    return path;
}

std::optional<QString> MobileCLIPModelManager::verifyTensorFile(const QString &path)
{
    QString error;
    if (!readTensorFile(path, &error)) return error;
    return std::nullopt;
}

std::optional<QString> MobileCLIPModelManager::verifyModelFile(const QString &path)
{
    QString error;
    const std::optional<Header> header = readTensorFile(path, &error);
    if (!header) return error;
    const auto shape = [&](const char *key) -> std::optional<std::vector<qint64>> {
        auto it = header->tensors.constFind(QString::fromLatin1(key));
        if (it == header->tensors.cend()) return std::nullopt;
        return it->shape;
    };
    // The keys the towers read first, each with the sizes the others must agree with.
    const char *keys[] = {"text.token_embedding.weight", "text.positional_embedding", "text.ln_final.weight",
                          "text.ln_final.bias", "text.text_projection",
                          "text.transformer.resblocks.0.attn.in_proj_weight",
                          "visual.trunk.stem.0.conv_kxk.0.conv.weight", "visual.trunk.head.fc.weight"};
    for (const char *key : keys)
        if (!shape(key)) return QStringLiteral("The model file lacks %1").arg(QLatin1String(key));
    const auto embedding = *shape("text.token_embedding.weight");
    const auto positions = *shape("text.positional_embedding");
    const auto projection = *shape("text.text_projection");
    const auto inProj = *shape("text.transformer.resblocks.0.attn.in_proj_weight");
    const auto stem = *shape("visual.trunk.stem.0.conv_kxk.0.conv.weight");
    const auto head = *shape("visual.trunk.head.fc.weight");
    const auto bad = [](const char *key) { return QStringLiteral("The model file's %1 has an unexpected shape").arg(QLatin1String(key)); };
    if (embedding.size() != 2 || embedding[0] != kVocabularySize || embedding[1] <= 0) return bad("text.token_embedding.weight");
    const qint64 width = embedding[1];
    if (positions.size() != 2 || positions[0] < 77 || positions[1] != width) return bad("text.positional_embedding");
    if (*shape("text.ln_final.weight") != std::vector<qint64>{width}) return bad("text.ln_final.weight");
    if (*shape("text.ln_final.bias") != std::vector<qint64>{width}) return bad("text.ln_final.bias");
    if (projection.size() != 2 || projection[0] != width || projection[1] <= 0) return bad("text.text_projection");
    if (inProj != std::vector<qint64>{3 * width, width}) return bad("text.transformer.resblocks.0.attn.in_proj_weight");
    if (stem.size() != 4 || stem[1] != 3) return bad("visual.trunk.stem.0.conv_kxk.0.conv.weight");
    if (head.size() != 2 || head[0] != projection[1]) return bad("visual.trunk.head.fc.weight");
    return std::nullopt;
}

std::optional<QByteArray> MobileCLIPModelManager::gunzip(const QByteArray &compressed, QString *error,
                                                         qsizetype maxBytes)
{
    z_stream stream{};
    int result = inflateInit2(&stream, 16 + MAX_WBITS);
    if (result != Z_OK) {
        if (error) *error = L10n::text(QStringLiteral("ai.gzipStart"));
        return std::nullopt;
    }
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(compressed.constData()));
    stream.avail_in = uInt(compressed.size());
    QByteArray out;
    char buffer[1 << 16];
    do {
        stream.next_out = reinterpret_cast<Bytef *>(buffer);
        stream.avail_out = sizeof buffer;
        result = inflate(&stream, Z_NO_FLUSH);
        out.append(buffer, qsizetype(sizeof buffer - stream.avail_out));
        if (out.size() > maxBytes) {
            inflateEnd(&stream);
            if (error)
                *error = QStringLiteral("the vocabulary inflates to more than %1 MB, so it is not the published file")
                             .arg(maxBytes >> 20);
            return std::nullopt;
        }
        // Input used up without the stream's end: a truncated file.
        if (result == Z_BUF_ERROR || (result == Z_OK && stream.avail_in == 0 && stream.avail_out != 0)) {
            result = Z_BUF_ERROR;
            break;
        }
    } while (result == Z_OK);
    inflateEnd(&stream);
    if (result != Z_STREAM_END) {
        if (error) *error = L10n::text(QStringLiteral("ai.gzipDamaged")) + QStringLiteral(" (") + QString::number(result) + QStringLiteral(").");
        return std::nullopt;
    }
    return out;
}

int MobileCLIPModelManager::countMergeLines(const QByteArray &vocabulary)
{
    const QList<QByteArray> lines = vocabulary.split('\n');
    int count = 0;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines[i].trimmed();
        const qsizetype space = line.indexOf(' ');
        if (space > 0 && space < line.size() - 1 && line.indexOf(' ', space + 1) < 0) ++count;
    }
    return count;
}

std::optional<QString> MobileCLIPModelManager::installItems(const QString &from, const QString &to,
                                                           const RenameFunction &renameFunction)
{
    const RenameFunction rename = renameFunction ? renameFunction
                                                 : RenameFunction([](const QString &a, const QString &b) { return QFile::rename(a, b); });
    const QDir source(from), target(to);
    for (const char *name : {kImageModelName, kTextModelName, kVocabName})
        if (!QFileInfo::exists(source.filePath(QLatin1String(name))))
            return QStringLiteral("%1 is missing from the download").arg(QLatin1String(name));
    if (!QDir().mkpath(to)) return QStringLiteral("Cannot create %1").arg(to);

    // Each step done, so a failure can walk them back in reverse.
    struct Step {
        QString from, to;
    };
    std::vector<Step> done;
    const auto undo = [&] {
        for (auto it = done.rbegin(); it != done.rend(); ++it) {
            QFile::remove(it->from);
            QFile::rename(it->to, it->from);
        }
    };
    for (const char *name : {kImageModelName, kTextModelName, kVocabName}) {
        const QString staged = source.filePath(QLatin1String(name));
        const QString installed = target.filePath(QLatin1String(name));
        const QString aside = source.filePath(QLatin1String(name) + QLatin1String(".previous"));
        if (QFileInfo::exists(installed)) {
            QFile::remove(aside);
            if (!rename(installed, aside)) {
                undo();
                return QStringLiteral("Cannot move the installed %1 aside").arg(QLatin1String(name));
            }
            done.push_back({installed, aside});
        }
        if (!rename(staged, installed)) {
            undo();
            return QStringLiteral("Cannot install %1").arg(QLatin1String(name));
        }
        done.push_back({staged, installed});
    }
    return std::nullopt;
}
