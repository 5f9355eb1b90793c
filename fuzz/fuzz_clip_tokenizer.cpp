// The CLIP tokenizer on any text a user can type or paste (the bytes read as UTF-8). The
// real merges file is used when LK_FUZZ_MERGES names it, a small one otherwise.
#include "search/CLIPTokenizer.h"

#include <QFile>
#include <QTemporaryDir>

#include <cstdlib>
#include <memory>

namespace {
std::unique_ptr<CLIPTokenizer> tokenizer;
}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    QString merges = qEnvironmentVariable("LK_FUZZ_MERGES");
    static QTemporaryDir dir;
    if (merges.isEmpty()) {
        merges = dir.filePath("merges.txt");
        QFile file(merges);
        if (!file.open(QIODevice::WriteOnly)) std::abort();
        file.write("#version: 0.2\nh e\nl l\nhe ll\no</w> x\nhell o</w>\n\xc3\xa9 t</w>\n");
    }
    tokenizer = std::make_unique<CLIPTokenizer>(merges);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    const CLIPTokenizer::Ids ids = tokenizer->encode(text);
    // Start id first, an end id somewhere after it, nothing but zeros past that, every id
    // inside the vocabulary.
    if (ids[0] != tokenizer->startId()) std::abort();
    bool ended = false;
    for (int i = 1; i < CLIPTokenizer::kContextLength; ++i) {
        if (ended && ids[i] != 0) std::abort();
        if (ids[i] < 0 || ids[i] >= tokenizer->vocabularySize()) std::abort();
        if (ids[i] == tokenizer->endId()) ended = true;
    }
    if (!ended) std::abort();
    return 0;
}
