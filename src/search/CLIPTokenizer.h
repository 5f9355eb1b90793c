#pragma once

// Turns a text into the 77 token ids the CLIP text tower reads: white-space and case
// cleaning, the CLIP pre-tokenizer, the byte-to-symbol map and byte-pair merges by rank.
// Immutable after construction, so encode() may run on several threads at once.

#include <QHash>
#include <QString>
#include <QStringList>

#include <array>

class CLIPTokenizer
{
public:
    static constexpr int kContextLength = 77;
    using Ids = std::array<qint32, kContextLength>;

    // Reads the merges file; throws std::runtime_error when it cannot be read as UTF-8.
    explicit CLIPTokenizer(const QString &mergesFilePath);

    // Start id, at most 75 content ids, end id, zeros.
    Ids encode(const QString &text) const;

    qint32 startId() const { return m_startId; }
    qint32 endId() const { return m_endId; }
    qsizetype vocabularySize() const { return m_vocabularySize; }

private:
    QStringList preTokenize(const QString &text) const;
    QStringList bpe(const QString &symbols) const;
    static QList<QPair<uchar, QChar>> bytesToUnicode();

    QChar m_byteEncoder[256];
    QHash<QString, qint32> m_encoder;
    QHash<QString, int> m_bpeRanks;
    qint32 m_startId = 0;
    qint32 m_endId = 0;
    qsizetype m_vocabularySize = 0;
};
