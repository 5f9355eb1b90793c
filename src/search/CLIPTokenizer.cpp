#include "search/CLIPTokenizer.h"

#include <QFile>
#include <QRegularExpression>
#include <QStringDecoder>

#include <limits>
#include <stdexcept>

namespace {

// Merge lines read after the header; the published file has exactly this many usable ones.
constexpr int kMergeLines = 48894;
constexpr int kMaxContentIds = CLIPTokenizer::kContextLength - 2;

const QString kEndOfWord = QStringLiteral("</w>");

// Lower-cases as Unicode's full case mapping does without a locale, including the final
// sigma: a capital sigma that ends a word becomes U+03C2, not U+03C3.
QString lowerCased(QString text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] != QChar(0x03A3)) continue;
        const bool afterLetter = i > 0 && text[i - 1].isLetter();
        const bool beforeLetter = i + 1 < text.size() && text[i + 1].isLetter();
        if (afterLetter && !beforeLetter) text[i] = QChar(0x03C2);
    }
    return text.toLower();
}

} // namespace

QList<QPair<uchar, QChar>> CLIPTokenizer::bytesToUnicode()
{
    QList<QPair<uchar, QChar>> order;
    bool printable[256] = {};
    auto range = [&](int from, int to) {
        for (int b = from; b <= to; ++b) {
            printable[b] = true;
            order.append({uchar(b), QChar(char16_t(b))});
        }
    };
    range(33, 126);
    range(161, 172);
    range(174, 255);
    int next = 256;
    for (int b = 0; b < 256; ++b)
        if (!printable[b]) order.append({uchar(b), QChar(char16_t(next++))});
    return order;
}

CLIPTokenizer::CLIPTokenizer(const QString &mergesFilePath)
{
    QFile file(mergesFilePath);
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error("cannot read the merges file");
    const QByteArray bytes = file.readAll();
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder(bytes);
    if (decoder.hasError())
        throw std::runtime_error("the merges file is not UTF-8");

    QStringList vocabulary;
    vocabulary.reserve(49408);
    const auto symbols = bytesToUnicode();
    for (const auto &[byte, symbol] : symbols) {
        m_byteEncoder[byte] = symbol;
        vocabulary.append(QString(symbol));
    }
    for (const auto &entry : symbols)
        vocabulary.append(QString(entry.second) + kEndOfWord);

    const QStringList lines = text.split(QLatin1Char('\n'));
    for (qsizetype i = 1; i < lines.size() && i <= kMergeLines; ++i) {
        const QStringList parts = lines[i].split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (parts.size() != 2) continue; // its rank goes to no pair
        m_bpeRanks.insert(parts[0] + QLatin1Char(' ') + parts[1], int(i - 1));
        vocabulary.append(parts[0] + parts[1]);
    }
    vocabulary.append(QStringLiteral("<|startoftext|>"));
    vocabulary.append(QStringLiteral("<|endoftext|>"));

    // A token listed twice keeps its later id.
    m_encoder.reserve(vocabulary.size());
    for (qsizetype id = 0; id < vocabulary.size(); ++id)
        m_encoder.insert(vocabulary[id], qint32(id));
    m_startId = m_encoder.value(QStringLiteral("<|startoftext|>"));
    m_endId = m_encoder.value(QStringLiteral("<|endoftext|>"));
    m_vocabularySize = vocabulary.size();
}

QStringList CLIPTokenizer::preTokenize(const QString &text) const
{
    static const QRegularExpression pattern(
        QStringLiteral("'s|'t|'re|'ve|'m|'ll|'d|[\\p{L}]+|[\\p{N}]|[^\\s\\p{L}\\p{N}]+"),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::UseUnicodePropertiesOption);
    QStringList tokens;
    if (!pattern.isValid()) return text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    auto it = pattern.globalMatch(text);
    while (it.hasNext())
        tokens.append(it.next().captured(0));
    return tokens;
}

QStringList CLIPTokenizer::bpe(const QString &symbolString) const
{
    if (symbolString.isEmpty()) return {};
    QStringList word;
    // Symbols are single UTF-16 units (all below U+0144), so one unit is one symbol.
    for (QChar c : symbolString)
        word.append(QString(c));
    word.last() += kEndOfWord;
    while (word.size() >= 2) {
        int bestRank = std::numeric_limits<int>::max();
        qsizetype bestAt = -1;
        for (qsizetype i = 0; i + 1 < word.size(); ++i) {
            const auto found = m_bpeRanks.constFind(word[i] + QLatin1Char(' ') + word[i + 1]);
            if (found != m_bpeRanks.cend() && *found < bestRank) {
                bestRank = *found;
                bestAt = i;
            }
        }
        if (bestAt < 0) break;
        const QString first = word[bestAt];
        const QString second = word[bestAt + 1];
        QStringList merged;
        merged.reserve(word.size());
        for (qsizetype i = 0; i < word.size();) {
            if (i + 1 < word.size() && word[i] == first && word[i + 1] == second) {
                merged.append(first + second);
                i += 2;
            } else {
                merged.append(word[i]);
                ++i;
            }
        }
        word = std::move(merged);
    }
    return word;
}

CLIPTokenizer::Ids CLIPTokenizer::encode(const QString &text) const
{
    static const QRegularExpression spaces(QStringLiteral("\\s+"), QRegularExpression::UseUnicodePropertiesOption);
    QString cleaned = text;
    cleaned.replace(spaces, QStringLiteral(" "));
    cleaned = lowerCased(cleaned.trimmed());

    Ids ids{};
    ids[0] = m_startId;
    int next = 1;
    const QStringList tokens = preTokenize(cleaned);
    for (qsizetype t = 0; t < tokens.size() && next <= kMaxContentIds; ++t) {
        const QByteArray utf8 = tokens[t].toUtf8();
        QString symbols;
        symbols.reserve(utf8.size());
        for (char byte : utf8)
            symbols.append(m_byteEncoder[uchar(byte)]);
        for (const QString &piece : bpe(symbols)) {
            if (next > kMaxContentIds) break;
            const auto found = m_encoder.constFind(piece);
            if (found != m_encoder.cend()) ids[next++] = *found;
        }
    }
    ids[next] = m_endId;
    return ids;
}
