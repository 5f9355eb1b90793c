#pragma once

// Where the installed CLIP models live and whether they are complete.

#include <QString>

class MobileCLIPModelManager
{
public:
    static constexpr const char *kImageModelName = "mobileclip_s2_image.safetensors";
    static constexpr const char *kTextModelName = "mobileclip_s2_text.safetensors";
    static constexpr const char *kVocabName = "bpe_simple_vocab_16e6.txt";

    // ~/.local/share/Lumenkite/Models; not created here.
    static QString modelsDirectory();
    // The two tower files and the merges file all exist in the models directory.
    static bool isInstalled();
    // Total bytes of the regular files below the models directory.
    static qint64 installedSizeBytes();
};
