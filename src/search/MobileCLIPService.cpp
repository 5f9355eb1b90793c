#include "search/MobileCLIPService.h"

#include "library/BackgroundPriority.h"
#include "library/HiddenTools.h"
#include "search/CLIPHelperProtocol.h"
#include "search/CLIPImagePreprocessing.h"
#include "search/CompanionFiles.h"
#include "search/MobileCLIPModelManager.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QCryptographicHash>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include <cmath>
#include <cstring>

namespace {

constexpr int kStartTimeoutMs = 120000;
constexpr int kAnswerTimeoutMs = 300000;
// Texts are few and short: two threads answer a query about as fast as four, and leave
// the others to the image helper.
constexpr int kTextThreads = 2;
// How many levels below the app's priority the image helper runs.
constexpr int kImageNice = 10;
constexpr char kPromptSetMagic[8] = {'L', 'K', 'P', 'R', 'O', 'M', 'P', '1'};

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

// A tower file must at least be a safetensors file with a readable header: that header.
std::optional<QJsonObject> tensorFileHeader(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return std::nullopt;
    const QByteArray head = f.read(8);
    if (head.size() != 8) return std::nullopt;
    quint64 length = 0;
    for (int i = 7; i >= 0; --i)
        length = (length << 8) | uchar(head[i]);
    if (length == 0 || length > quint64(f.size() - 8) || length > (100u << 20)) return std::nullopt;
    const QJsonDocument doc = QJsonDocument::fromJson(f.read(qint64(length)));
    if (!doc.isObject()) return std::nullopt;
    return doc.object();
}

// The image tower's output length: the rows of its last projection; 0 when the header
// does not say.
int imageOutputLength(const QJsonObject &header)
{
    const QJsonArray shape = header.value("visual.trunk.head.fc.weight").toObject().value("shape").toArray();
    const qint64 rows = shape.size() == 2 ? shape.at(0).toInteger() : 0;
    return rows > 0 && rows <= 65536 ? int(rows) : 0;
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
    const HelperSettings image = helperSettings(Tower::image), text = helperSettings(Tower::text);
    // Indexing is background work: the image helper runs at a lower priority, so that a
    // search's text query, and the app, are not slowed by keyframes being embedded beside them.
    m_imageHelper.arguments = QStringList{"serve", "--image-file", paths.imageModel} + image.arguments;
    m_imageHelper.niceness = kImageNice;
    m_imageHelper.environment = image.environment;
    m_textHelper.arguments = QStringList{"serve", "--text-file", paths.textModel} + text.arguments;
    m_textHelper.environment = text.environment;
}

// Measured with bench_clip at the published model's size on a shared 8-core machine:
// channels-last convolutions run the image tower faster, one image per request and in
// batches, with the same embeddings. The workers keep sleeping between operations: with
// the cores shared, spinning ones waited whole time slices for descheduled peers and the
// tower ran many times slower.
// A batch's activations are tens of MB each; by default malloc gives such blocks their own
// mappings and returns them at once, so every operation faulted in fresh zeroed pages and a
// batch ran no faster per image than single images. Kept in the heap instead, a batch of
// eight runs two to three times as many images per second as single images did, and the
// helper keeps some 150 MB more (490 MB against 340 MB).
MobileCLIPService::HelperSettings MobileCLIPService::helperSettings(Tower tower)
{
    if (tower == Tower::text) return {{"--threads", QString::number(kTextThreads)}, {}};
    return {{"--layout", "channels-last"},
            {"GLIBC_TUNABLES=glibc.malloc.mmap_threshold=1073741824:glibc.malloc.trim_threshold=1073741824"}};
}

MobileCLIPService::~MobileCLIPService()
{
    m_imageHelper.connection.stop();
    m_textHelper.connection.stop();
}

std::shared_ptr<MobileCLIPService> MobileCLIPService::create(const AssetPaths &paths, const QString &helperProgram)
{
    const QString program = helperProgram.isEmpty() ? MobileCLIPService::helperProgram() : helperProgram;
    const std::optional<QJsonObject> imageHeader = tensorFileHeader(paths.imageModel);
    if (program.isEmpty() || !imageHeader || !tensorFileHeader(paths.textModel))
        return nullptr;
    std::shared_ptr<MobileCLIPService> service(new MobileCLIPService(paths, program));
    service->m_imageDimension = imageOutputLength(*imageHeader);
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

bool MobileCLIPService::isModelDamaged() const { return m_damaged.load(); }

bool MobileCLIPService::startHelper(Helper &h)
{
    // The helper inherits the priority of the thread that starts it, which indexing has
    // already lowered: only the rest of its distance below the app is added.
    QStringList arguments = h.arguments;
    if (const int extra = h.niceness - thisThreadsLowering(); extra > 0)
        arguments << QStringLiteral("--nice") << QString::number(extra);
    return h.connection.start(m_program, arguments, kStartTimeoutMs, h.environment);
}

std::optional<std::vector<MobileCLIPService::Vector>> MobileCLIPService::run(uint32_t kind, uint32_t count,
                                                                             const QByteArray &payload)
{
    Helper &h = kind == clipproto::kImages ? m_imageHelper : m_textHelper;
    QMutexLocker locker(&h.lock);
    // A helper that died is started again, once per request; one that could not load its
    // towers, or keeps dying, is not started again by this instance.
    for (int attempt = 0; attempt < 2 && !h.failedToStart; ++attempt) {
        if (!h.connection.isRunning() && !startHelper(h)) {
            h.failedToStart = true;
            m_damaged = true;
            break;
        }
        const auto answer = h.connection.exchange(kind, count, payload, kAnswerTimeoutMs);
        if (!answer) {
            if (++h.deathsInARow >= kDeathsBeforeDamaged) {
                h.failedToStart = true;
                m_damaged = true;
            }
            continue;
        }
        h.deathsInARow = 0;
        const uint32_t expected = kind == clipproto::kImages ? h.connection.imageDimension() : h.connection.textDimension();
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

std::vector<std::optional<MobileCLIPService::Vector>> MobileCLIPService::textEmbeddings(const QStringList &texts)
{
    std::vector<std::optional<Vector>> results(size_t(texts.size()));
    // The texts not cached, each once, with the places that want it.
    QStringList keys;
    QHash<QString, QList<qsizetype>> wanted;
    {
        QMutexLocker locker(&m_textCacheLock);
        for (qsizetype i = 0; i < texts.size(); ++i) {
            const QString key = texts[i].trimmed().toLower();
            if (key.isEmpty()) continue;
            if (const auto found = m_textEmbeddingCache.constFind(key); found != m_textEmbeddingCache.cend()) {
                results[size_t(i)] = *found;
                continue;
            }
            if (!wanted.contains(key)) keys.append(key);
            wanted[key].append(i);
        }
    }
    for (qsizetype first = 0; first < keys.size(); first += qsizetype(clipproto::kMaxBatch)) {
        const QStringList part = keys.mid(first, qsizetype(clipproto::kMaxBatch));
        QByteArray payload;
        for (const QString &key : part) {
            const CLIPTokenizer::Ids ids = m_tokenizer->encode(key);
            payload.append(reinterpret_cast<const char *>(ids.data()), qsizetype(sizeof(qint32) * ids.size()));
        }
        const auto vectors = run(clipproto::kTexts, uint32_t(part.size()), payload);
        if (!vectors) continue;
        QMutexLocker locker(&m_textCacheLock);
        for (qsizetype k = 0; k < part.size(); ++k) {
            const auto unit = l2Normalized((*vectors)[size_t(k)]);
            if (!unit) continue;
            m_textEmbeddingCache.insert(part[k], *unit);
            for (qsizetype i : wanted.value(part[k])) results[size_t(i)] = unit;
        }
    }
    return results;
}

std::optional<MobileCLIPService::Vector> MobileCLIPService::computeTextEmbedding(const QString &text)
{
    return textEmbeddings({text}).front();
}

std::optional<MobileCLIPService::Vector> MobileCLIPService::textEmbedding(const QStringList &texts)
{
    std::optional<Vector> sum;
    for (const std::optional<Vector> &v : textEmbeddings(texts)) {
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

QString MobileCLIPService::promptSetPath() const
{
    return QFileInfo(m_paths.textModel).dir().filePath(QLatin1String(MobileCLIPModelManager::kLabelPromptsName));
}

// The file: magic, a key (the prompts and the text tower file they were made from), the
// count and dimension, then the unit vectors as float32.
std::optional<std::vector<MobileCLIPService::Vector>> MobileCLIPService::readPromptSet(const QByteArray &key,
                                                                                       qsizetype count) const
{
    QFile f(promptSetPath());
    if (!f.open(QIODevice::ReadOnly)) return std::nullopt;
    const qint64 headSize = qint64(sizeof kPromptSetMagic) + key.size() + 8;
    const QByteArray head = f.read(headSize);
    if (head.size() != headSize || std::memcmp(head.constData(), kPromptSetMagic, sizeof kPromptSetMagic) != 0 ||
        head.mid(sizeof kPromptSetMagic, key.size()) != key)
        return std::nullopt;
    quint32 storedCount = 0, dimension = 0;
    std::memcpy(&storedCount, head.constData() + headSize - 8, 4);
    std::memcpy(&dimension, head.constData() + headSize - 4, 4);
    if (storedCount != quint32(count) || dimension == 0 || dimension > 65536 ||
        f.size() != headSize + qint64(storedCount) * dimension * 4)
        return std::nullopt;
    const QByteArray data = f.readAll();
    std::vector<Vector> out(static_cast<size_t>(storedCount), Vector(static_cast<size_t>(dimension)));
    for (quint32 i = 0; i < storedCount; ++i) {
        std::memcpy(out[i].data(), data.constData() + qsizetype(i) * dimension * 4, size_t(dimension) * 4);
        auto unit = l2Normalized(out[i]); // a damaged file is made again, not believed
        if (!unit) return std::nullopt;
        out[i] = std::move(*unit);
    }
    return out;
}

void MobileCLIPService::writePromptSet(const QByteArray &key, const std::vector<Vector> &vectors) const
{
    if (vectors.empty()) return;
    const quint32 count = quint32(vectors.size()), dimension = quint32(vectors.front().size());
    QByteArray bytes(kPromptSetMagic, sizeof kPromptSetMagic);
    bytes += key;
    bytes.append(reinterpret_cast<const char *>(&count), 4);
    bytes.append(reinterpret_cast<const char *>(&dimension), 4);
    for (const Vector &v : vectors) {
        if (v.size() != dimension) return;
        bytes.append(reinterpret_cast<const char *>(v.data()), qsizetype(v.size() * sizeof(float)));
    }
    // A folder that cannot be written (a model beside the program) only costs the next launch.
    QSaveFile f(promptSetPath());
    if (f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size() && f.flush()) f.commit();
}

std::optional<std::vector<MobileCLIPService::Vector>> MobileCLIPService::promptSetEmbeddings(const QStringList &prompts)
{
    if (prompts.isEmpty()) return std::vector<Vector>{};
    const QFileInfo tower(m_paths.textModel);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(QByteArray::number(tower.size()) + ' ' +
                 QByteArray::number(tower.lastModified().toMSecsSinceEpoch()) + '\n');
    for (const QString &p : prompts) hash.addData(p.toUtf8() + '\n');
    const QByteArray key = hash.result();

    QMutexLocker locker(&m_promptSetLock);
    if (const auto found = m_promptSets.constFind(key); found != m_promptSets.cend()) return *found;
    std::optional<std::vector<Vector>> set = readPromptSet(key, prompts.size());
    if (!set) {
        std::vector<Vector> made;
        for (const std::optional<Vector> &v : textEmbeddings(prompts)) {
            if (!v) return std::nullopt;
            made.push_back(*v);
        }
        writePromptSet(key, made);
        set = std::move(made);
    }
    m_promptSets.insert(key, *set);
    return set;
}

qint64 MobileCLIPService::helperProcessId(Tower tower)
{
    Helper &h = tower == Tower::image ? m_imageHelper : m_textHelper;
    QMutexLocker locker(&h.lock);
    return h.connection.isRunning() ? qint64(h.connection.processId()) : -1;
}

int MobileCLIPService::textCacheSize()
{
    QMutexLocker locker(&m_textCacheLock);
    return int(m_textEmbeddingCache.size());
}
