#pragma once

// The single owner of the visual index, and the query side of the visual search: text
// normalisation and the keyword tables, query translation and scoring.

#include "library/Models.h"
#include "library/OnDeviceSearchTypes.h"
#include "library/RecordFile.h"
#include "library/SnapshotWriter.h"
#include "search/QueryTextEmbedder.h"
#include "search/VisualIndexFile.h"

#include <QHash>
#include <QList>
#include <QMutex>
#include <QSet>
#include <QString>
#include <QStringList>

#include <atomic>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

struct KeywordLabelGroup {
    QStringList keywords;   // Turkish, lower case, folded to ASCII
    QStringList labelWords; // English label words
};

struct PhraseExpansion {
    QString phrase; // Turkish word stems, folded to ASCII
    QStringList descriptions;
};

using DictionaryPair = std::pair<QString, QString>;

// The platform's translation services. None exists on this system: the default routes
// report "not available" and the local tables translate. Tests supply their own.
struct QueryTranslationRoutes {
    // Whether an offline translation from the language code to English is installed.
    std::function<bool(const QString &source)> isTranslationInstalled;
    // The translation of the text; none when the call fails.
    std::function<std::optional<QString>(const QString &source, const QString &text)> translate;
    // Whether an on-device language model is available.
    std::function<bool()> isLanguageModelAvailable;
    // The model's answer to the prompt under the instructions; none when the call fails.
    std::function<std::optional<QString>(const QString &instructions, const QString &prompt)> respond;

    static QueryTranslationRoutes unavailable();
};

class VisualSearchService
{
public:
    // The one instance of the program, on the index file of the data folder.
    static VisualSearchService &shared();
    // Loads the index files of `folder` (created when missing).
    explicit VisualSearchService(const QString &folder);
    ~VisualSearchService(); // waits for the save in progress

    // ---- index records and file ----

    VisualIndexMap indexByVideoID() const;
    // Stores each entry under its id, in order, replacing what is there. Does not save.
    void upsert(const QList<VideoVisualIndexEntry> &entries);
    // Writes the snapshot to the index file off the calling thread. Saves are ordered: the
    // newest snapshot submitted is the one the file ends up holding. A file that could not
    // be read whole at start is first moved aside, so nothing it held is lost.
    void save(const VisualIndexMap &snapshot);
    void waitForSaves();
    QString cacheFilePath() const { return m_cacheFilePath; }
    // Records of the loaded file that could not be decoded and were left out.
    int skippedEntryCount() const { return m_skippedEntries; }
    // Where the unreadable file was moved by the first save; empty when none was.
    QString movedAsidePath() const;

    // ---- text toolkit ----

    // Turkish lower-casing, then Turkish letters folded to ASCII.
    static QString normalize(const QString &text);
    // The search terms of a query: alphanumeric runs of 2+ characters, stop words left out.
    static QStringList tokens(const QString &text);
    // The word with its first fitting Turkish suffix removed (at least 3 characters stay).
    static QString stripTurkishSuffix(const QString &word);
    // The English label-word groups a query asks for.
    static QList<QStringList> labelWordGroups(const QString &query, const QStringList &terms);

    static const QSet<QString> &stopWords();
    static const QStringList &turkishSuffixes();
    static const QList<KeywordLabelGroup> &keywordLabelTable();
    static const QList<PhraseExpansion> &phraseExpansions();
    static const QList<DictionaryPair> &localJapaneseGermanDictionary();
    static const QList<DictionaryPair> &localTurkishDictionary();
    static const QHash<QString, QString> &labelTranslationTR();

    // ---- query translation ----

    static const QString kLanguageModelInstructions;

    // English variants of a query (empty only for a blank query).
    QStringList translateQuery(const QString &query) const;
    static QStringList translateQuery(const QString &query, const QueryTranslationRoutes &routes);
    // "ja" for text with Japanese characters; otherwise the language the recogniser
    // places with confidence, or none.
    static std::optional<QString> detectQueryLanguage(const QString &text, bool isJapanese);
    static bool containsJapaneseCharacters(const QString &text);
    // The usable lines of a language model's answer: cleaned, non-empty, at most 80
    // characters, at most two.
    static QStringList cleanedModelLines(const QString &response);
    void setTranslationRoutes(QueryTranslationRoutes routes);

    // ---- search ----

    void setTextEmbedderProvider(QueryTextEmbedderProvider provider);
    // The hits among `candidates` (ids unique), keyed by video id. Runs on the calling
    // thread; the index may change meanwhile without affecting this search.
    SearchHitMap search(const QString &query, const QList<VideoFile> &candidates);
    // The query embedding of up to three variants, each as itself and as "a photo of ...".
    std::optional<std::vector<float>> textEmbeddings(const QStringList &variants) const;
    static SearchHitMap scoreEntries(const QList<VideoFile> &candidates, const VisualIndexMap &snapshot,
                                     const QString &normalizedQuery, const QStringList &terms,
                                     const std::optional<std::vector<float>> &queryEmbedding,
                                     const QList<QStringList> &labelGroups);

private:
    void saveFile(const VisualIndexMap &snapshot, const QString &path);

    const QString m_cacheFilePath;
    mutable QMutex m_mutex;
    VisualIndexMap m_indexByVideoID;
    QHash<QString, QStringList> m_queryTranslationCache;
    QueryTranslationRoutes m_routes;
    QueryTextEmbedderProvider m_embedderProvider;
    int m_skippedEntries = 0;
    RecordFile::DamagedFileKeeper m_damagedFile;
    std::unique_ptr<SnapshotWriter<VisualIndexMap>> m_writer;
};
