#pragma once

// The CLIP test data kept beside the clone: vocabulary, tokenizer cases, the tiny model
// and its reference outputs.

#include "support/TestSupport.h"

#include "search/MobileCLIPModelManager.h"
#include "search/MobileCLIPService.h"

#include <QFileInfo>
#include <QDateTime>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <cmath>
#include <vector>

namespace clipfix {

inline QString dir() { return QDir::cleanPath(QStringLiteral(LK_SOURCE_DIR "/../shared/clip-fixtures")); }
inline QString file(const QString &name) { return dir() + "/" + name; }
inline QString tinyModel() { return file("tiny-mobileclip.safetensors"); }
inline constexpr int kTinyHeads = 2;
// How long a test waits for an indexing run of a few clips: beside the whole suite on a busy
// machine the run's text recognition takes minutes, so up to the test's own time limit.
inline constexpr int kIndexingWaitMs = 280000;

// The vocabulary, unpacked once per test program into its sandbox.
inline QString vocabulary()
{
    const QString path = lktest::sandboxRoot() + "/bpe_simple_vocab_16e6.txt";
    if (!QFile::exists(path)) {
        QProcess gz;
        gz.setStandardOutputFile(path);
        gz.start("gzip", {"-dc", file("bpe_simple_vocab_16e6.txt.gz")});
        gz.waitForFinished(60000);
    }
    return path;
}

inline QJsonObject reference()
{
    QFile f(file("tiny-reference.json"));
    f.open(QIODevice::ReadOnly);
    return QJsonDocument::fromJson(f.readAll()).object();
}

inline std::vector<float> floats(const QJsonArray &a)
{
    std::vector<float> v;
    for (const QJsonValue &x : a) v.push_back(float(x.toDouble()));
    return v;
}

inline double maxAbsDiff(const std::vector<float> &a, const std::vector<float> &b)
{
    if (a.size() != b.size()) return INFINITY;
    double worst = 0;
    for (size_t i = 0; i < a.size(); ++i) worst = std::max(worst, double(std::fabs(a[i] - b[i])));
    return worst;
}

inline double cosine(const std::vector<float> &a, const std::vector<float> &b)
{
    double ab = 0, aa = 0, bb = 0;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i) {
        ab += double(a[i]) * b[i];
        aa += double(a[i]) * a[i];
        bb += double(b[i]) * b[i];
    }
    return ab / std::sqrt(aa * bb);
}

// Runs the helper; stdout in `out`, stderr in `err`. Exit code, or -1 when it did not finish.
inline int runHelper(const QStringList &args, QByteArray *out = nullptr, QByteArray *err = nullptr,
                     const QByteArray &input = {})
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("OMP_WAIT_POLICY", "PASSIVE"); // as the service starts it
    p.setProcessEnvironment(env);
    p.start(MobileCLIPService::helperProgram(), args);
    if (!p.waitForStarted(10000)) return -1;
    if (!input.isEmpty()) p.write(input);
    p.closeWriteChannel();
    if (!p.waitForFinished(120000)) {
        p.kill();
        p.waitForFinished();
        return -1;
    }
    if (out) *out = p.readAllStandardOutput();
    if (err) *err = p.readAllStandardError();
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

// Installs the tiny model as the app installs the published one (folded per-tower files
// and the merges file) into `dir`. The folded files are kept in the shared fixture cache.
inline bool installTinyModels(const QString &dir)
{
    QDir().mkpath(dir);
    const QFileInfo helper(MobileCLIPService::helperProgram());
    const QByteArray stamp = "clip-fuse\n" + QByteArray::number(helper.size()) + "\n" +
                             QByteArray::number(helper.lastModified().toMSecsSinceEpoch());
    for (const char *name : {MobileCLIPModelManager::kImageModelName, MobileCLIPModelManager::kTextModelName}) {
        const bool ok = lktest::cachedFile(dir + "/" + name, stamp + name, [&](const QString &out) {
            const QString temp = out + ".dir";
            const bool fused = runHelper({"fuse", "--model", tinyModel(), "--heads", QString::number(kTinyHeads),
                                          "--out", temp}) == 0 &&
                               QFile::rename(temp + "/" + name, out);
            QDir(temp).removeRecursively();
            return fused;
        });
        if (!ok) return false;
    }
    QFile::remove(dir + "/" + MobileCLIPModelManager::kVocabName);
    return QFile::copy(vocabulary(), dir + "/" + MobileCLIPModelManager::kVocabName);
}

} // namespace clipfix
