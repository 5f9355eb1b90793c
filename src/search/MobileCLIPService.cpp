#include "search/MobileCLIPService.h"

#include "library/HiddenTools.h"
#include "search/CLIPHelperProtocol.h"
#include "search/CLIPImagePreprocessing.h"
#include "search/CompanionFiles.h"
#include "search/MobileCLIPModelManager.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>

#include <cmath>

namespace {

constexpr int kStartTimeoutMs = 120000;
constexpr int kAnswerTimeoutMs = 300000;

struct InstanceBox {
    QMutex lock;
    std::shared_ptr<MobileCLIPService> instance;
    bool hasAttemptedLoad = false;
};

InstanceBox &box()
{
    static InstanceBox *b = new InstanceBox; // never destroyed
    return *b;
}

std::shared_ptr<MobileCLIPService> loadShared()
{
    const auto paths = MobileCLIPService::AssetPaths::resolve();
    if (!paths) return nullptr;
    return MobileCLIPService::create(*paths);
}

// A tower file must at least be a safetensors file with a readable header.
bool looksLikeTensorFile(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return false;
    const QByteArray head = f.read(8);
    if (head.size() != 8) return false;
    quint64 length = 0;
    for (int i = 7; i >= 0; --i)
        length = (length << 8) | uchar(head[i]);
    if (length == 0 || length > quint64(f.size() - 8) || length > (100u << 20)) return false;
    return QJsonDocument::fromJson(f.read(qint64(length))).isObject();
}

} // namespace

std::optional<MobileCLIPService::AssetPaths> MobileCLIPService::AssetPaths::resolve()
{
    const QString appDir = QCoreApplication::instance() ? QCoreApplication::applicationDirPath() : QString();
    QStringList candidates{MobileCLIPModelManager::modelsDirectory()};
    if (!appDir.isEmpty()) candidates << appDir << appDir + "/Models";
    candidates << QDir::currentPath() + "/Models/compiled" << QDir::currentPath() + "/Models";
    QString found[3];
    const char *names[3] = {MobileCLIPModelManager::kImageModelName, MobileCLIPModelManager::kTextModelName,
                            MobileCLIPModelManager::kVocabName};
    for (const QString &dir : candidates)
        for (int i = 0; i < 3; ++i)
            if (found[i].isEmpty() && QFileInfo::exists(dir + "/" + names[i])) found[i] = dir + "/" + names[i];
    for (const QString &f : found)
        if (f.isEmpty()) return std::nullopt;
    return AssetPaths{found[0], found[1], found[2]};
}

std::shared_ptr<MobileCLIPService> MobileCLIPService::shared()
{
    InstanceBox &b = box();
    QMutexLocker locker(&b.lock);
    if (!b.hasAttemptedLoad) {
        b.hasAttemptedLoad = true;
        b.instance = loadShared();
    }
    return b.instance;
}

void MobileCLIPService::resetShared()
{
    InstanceBox &b = box();
    QMutexLocker locker(&b.lock);
    b.hasAttemptedLoad = true;
    b.instance.reset();
}

void MobileCLIPService::reloadShared()
{
    InstanceBox &b = box();
    QMutexLocker locker(&b.lock);
    b.hasAttemptedLoad = true;
    b.instance = loadShared();
}

QString MobileCLIPService::helperProgram()
{
    if (isToolHidden("clip-helper")) return {};
    return findCompanionFile(QStringLiteral("lumenkite-clip"), QStringLiteral(LK_CLIP_HELPER_PATH), true);
}

MobileCLIPService::MobileCLIPService(const AssetPaths &paths, const QString &program)
    : m_paths(paths), m_program(program)
{
}

MobileCLIPService::~MobileCLIPService() { m_helper.stop(); }

std::shared_ptr<MobileCLIPService> MobileCLIPService::create(const AssetPaths &paths, const QString &helperProgram)
{
    const QString program = helperProgram.isEmpty() ? MobileCLIPService::helperProgram() : helperProgram;
    if (program.isEmpty() || !looksLikeTensorFile(paths.imageModel) || !looksLikeTensorFile(paths.textModel))
        return nullptr;
    std::shared_ptr<MobileCLIPService> service(new MobileCLIPService(paths, program));
    try {
        service->m_tokenizer = std::make_unique<CLIPTokenizer>(paths.vocab);
    } catch (const std::exception &) {
        return nullptr;
    }
    return service;
}

std::optional<MobileCLIPService::Vector> MobileCLIPService::l2Normalized(Vector v)
{
    double sum = 0;
    for (float x : v) sum += double(x) * x;
    const double norm = std::sqrt(sum);
    if (!std::isfinite(norm) || !(norm > 1e-7)) return std::nullopt;
    const float inverse = float(1.0 / norm);
    for (float &x : v) x *= inverse;
    return v;
}

std::optional<std::vector<MobileCLIPService::Vector>> MobileCLIPService::run(uint32_t kind, uint32_t count,
                                                                             const QByteArray &payload)
{
    QMutexLocker locker(&m_helperLock);
    const QStringList args{"serve", "--image-file", m_paths.imageModel, "--text-file", m_paths.textModel};
    // A helper that died is started again, once per request; one that could not load its
    // towers is not started again by this instance.
    for (int attempt = 0; attempt < 2 && !m_helperFailedToStart; ++attempt) {
        if (!m_helper.isRunning() && !m_helper.start(m_program, args, kStartTimeoutMs)) {
            m_helperFailedToStart = true;
            break;
        }
        const auto answer = m_helper.exchange(kind, count, payload, kAnswerTimeoutMs);
        if (!answer) continue;
        const uint32_t expected = kind == clipproto::kImages ? m_helper.imageDimension() : m_helper.textDimension();
        if (answer->status != clipproto::kOk || answer->dimension != expected) return std::nullopt;
        std::vector<Vector> out;
        for (uint32_t i = 0; i < answer->count; ++i) {
            const float *row = answer->values.data() + size_t(i) * answer->dimension;
            out.emplace_back(row, row + answer->dimension);
        }
        return out;
    }
    return std::nullopt;
}

std::vector<std::optional<MobileCLIPService::Vector>> MobileCLIPService::imageEmbeddings(const QList<QImage> &images)
{
    std::vector<std::optional<Vector>> results(size_t(images.size()));
    QList<qsizetype> pending;
    QByteArray payload;
    auto flush = [&] {
        if (pending.isEmpty()) return;
        if (const auto vectors = run(clipproto::kImages, uint32_t(pending.size()), payload))
            for (qsizetype i = 0; i < pending.size(); ++i)
                results[size_t(pending[i])] = l2Normalized((*vectors)[size_t(i)]);
        pending.clear();
        payload.clear();
    };
    for (qsizetype i = 0; i < images.size(); ++i) {
        const QByteArray rgb = clipimage::preprocess(images[i]);
        if (rgb.isEmpty()) continue;
        payload += rgb;
        pending.append(i);
        if (pending.size() == kImageBatch) flush();
    }
    flush();
    return results;
}

std::optional<MobileCLIPService::Vector> MobileCLIPService::imageEmbedding(const QImage &image)
{
    return imageEmbeddings({image}).front();
}

std::optional<QuantizedEmbedding> MobileCLIPService::quantizedImageEmbedding(const QImage &image)
{
    const auto v = imageEmbedding(image);
    if (!v) return std::nullopt;
    return QuantizedEmbedding::fromVector(*v);
}

std::optional<MobileCLIPService::Vector> MobileCLIPService::computeTextEmbedding(const QString &text)
{
    const QString key = text.trimmed().toLower();
    if (key.isEmpty()) return std::nullopt;
    {
        QMutexLocker locker(&m_textCacheLock);
        const auto found = m_textEmbeddingCache.constFind(key);
        if (found != m_textEmbeddingCache.cend()) return *found;
    }
    const CLIPTokenizer::Ids ids = m_tokenizer->encode(key);
    const QByteArray payload(reinterpret_cast<const char *>(ids.data()), qsizetype(sizeof(qint32) * ids.size()));
    const auto vectors = run(clipproto::kTexts, 1, payload);
    if (!vectors) return std::nullopt;
    auto unit = l2Normalized(vectors->front());
    if (!unit) return std::nullopt;
    QMutexLocker locker(&m_textCacheLock);
    m_textEmbeddingCache.insert(key, *unit);
    return unit;
}

std::optional<MobileCLIPService::Vector> MobileCLIPService::textEmbedding(const QStringList &texts)
{
    std::optional<Vector> sum;
    for (const QString &text : texts) {
        const auto v = computeTextEmbedding(text);
        if (!v) continue;
        if (!sum) {
            sum = *v;
        } else if (sum->size() == v->size()) {
            for (size_t i = 0; i < v->size(); ++i) (*sum)[i] += (*v)[i];
        }
    }
    if (!sum) return std::nullopt;
    return l2Normalized(std::move(*sum));
}

qint64 MobileCLIPService::helperProcessId()
{
    QMutexLocker locker(&m_helperLock);
    return m_helper.isRunning() ? qint64(m_helper.processId()) : -1;
}

int MobileCLIPService::textCacheSize()
{
    QMutexLocker locker(&m_textCacheLock);
    return int(m_textEmbeddingCache.size());
}
