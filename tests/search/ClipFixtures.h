#pragma once

// The CLIP test data kept beside the clone: vocabulary, tokenizer cases, the tiny model
// and its reference outputs.

#include "support/TestSupport.h"

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

} // namespace clipfix
