#pragma once

// Where the installed CLIP models live, whether they are complete, and how they get there:
// the checks a download passes before it is installed, and the swap that installs it.

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <vector>

class MobileCLIPModelManager
{
public:
    static constexpr const char *kImageModelName = "mobileclip_s2_image.safetensors";
    static constexpr const char *kTextModelName = "mobileclip_s2_text.safetensors";
    static constexpr const char *kVocabName = "bpe_simple_vocab_16e6.txt";
    // The zero-shot label prompts' embeddings, made from the installed text tower on first use.
    static constexpr const char *kLabelPromptsName = "mobileclip_s2_label_prompts.bin";
    // The training-time file with both towers, as the model hub publishes it.
    static constexpr const char *kDownloadedModelName = "open_clip_model.safetensors";
    static constexpr const char *kDownloadedVocabName = "bpe_simple_vocab_16e6.txt.gz";
    // The standard vocabulary's merges: 49152 tokens less 256 bytes and two specials, plus one.
    static constexpr int kRequiredMergeLines = 48894;
    static constexpr int kVocabularySize = 49408;

    // QSettings keys of the two download hosts ("scheme://host[:port][/prefix]"), so a
    // mirror or a test server can stand in for the public ones.
    static constexpr const char *kModelBaseURLKey = "models/modelBaseURL";
    static constexpr const char *kVocabularyBaseURLKey = "models/vocabularyBaseURL";
    static constexpr const char *kDefaultModelBaseURL = "https://huggingface.co";
    static constexpr const char *kDefaultVocabularyBaseURL = "https://raw.githubusercontent.com";

    // One file to fetch: where from, its name in the staging folder, and its expected size,
    // which only weighs the progress until the server gives the real one.
    struct DownloadFile {
        QString url;
        QString fileName;
        qint64 approxBytes = 0;
    };
    // The model file, then the vocabulary; base URLs from the settings.
    static std::vector<DownloadFile> downloadFiles();

    // ~/.local/share/Lumenkite/Models; not created here.
    static QString modelsDirectory();
    // The two tower files and the merges file all exist in the models directory.
    static bool isInstalled();
    // Total bytes of the regular files below the models directory.
    static qint64 installedSizeBytes();
    // Deletes the models directory and clears the shared CLIP service; the error text on failure.
    static std::optional<QString> removeInstalledModels();

    // A fresh staging folder inside the models directory (never the system temporary folder,
    // which may be a small RAM disk); empty when it cannot be made.
    static QString makeStagingFolder();
    // Removes the staging folders a killed download left, those last changed before
    // `before` (the process's start, so a download of this run keeps its own).
    static void sweepStagingFolders(const QDateTime &before);

    // The error text when the training-time file is not a complete, sane model: the header
    // parses, every tensor lies inside the file, the keys both towers need are there with
    // shapes that fit together, and every float is finite.
    static std::optional<QString> verifyModelFile(const QString &path);
    // Same checks of the header and the values without asking for particular keys.
    static std::optional<QString> verifyTensorFile(const QString &path);

    // Far above the published vocabulary's 1.6 MB, far below what could exhaust memory.
    static constexpr qsizetype kMaxVocabularyBytes = 16 << 20;
    // Inflates a gzip stream of at most `maxBytes` inflated; nullopt with the error text in
    // *error on failure (a stream that inflates past the cap is refused when it reaches it).
    static std::optional<QByteArray> gunzip(const QByteArray &compressed, QString *error,
                                            qsizetype maxBytes = kMaxVocabularyBytes);
    // The number of usable merge lines (two symbols) after the version line.
    static int countMergeLines(const QByteArray &vocabulary);

    // Moves the three items from `from` into `to` by renames. An item already in `to` is first
    // moved aside into `from`; on any failure every rename done is undone, so the old model
    // stays as it was. `rename` stands in for QFile::rename (tests inject failures).
    using RenameFunction = std::function<bool(const QString &from, const QString &to)>;
    static std::optional<QString> installItems(const QString &from, const QString &to,
                                               const RenameFunction &rename = {});
};
