// lumenkite-clip: runs the MobileCLIP-S2 image and text towers for the app over a pipe
// protocol (serve), and by hand: embed, tokenize, fuse. The only program that links torch.

#include "ClipModel.h"
#include "SafeTensors.h"

#include "search/CLIPHelperProtocol.h"
#include "search/CLIPImagePreprocessing.h"
#include "search/CLIPTokenizer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iomanip>
#include <iostream>
#include <optional>
#include <sstream>
#include <unistd.h>

namespace {

const char *const kImageFile = "mobileclip_s2_image.safetensors";
const char *const kTextFile = "mobileclip_s2_text.safetensors";
const char *const kVocabFile = "bpe_simple_vocab_16e6.txt";
const char *const kHeadsKey = "lumenkite.text_heads";

struct Options {
    std::string command;
    std::map<std::string, std::string> values;
    bool has(const std::string &k) const { return values.count(k) != 0; }
    std::string get(const std::string &k) const { return has(k) ? values.at(k) : std::string(); }
};

struct Towers {
    std::optional<clipmodel::ImageTower> image;
    std::optional<clipmodel::TextTower> text;
};

[[noreturn]] void fail(const std::string &message)
{
    std::cerr << "lumenkite-clip: " << message << std::endl;
    std::exit(1);
}

// The one per-model fact no shape shows: the installed files carry it; the training-time
// file needs --heads, or a width whose head count is known (the published model's 512 has
// 8 heads of 64). Any other width is refused rather than guessed: a wrong count still runs,
// and gives embeddings that match nothing.
int64_t textHeads(const TensorFile &w, const Options &o)
{
    if (o.has("heads")) return std::stoll(o.get("heads"));
    if (auto it = w.metadata.find(kHeadsKey); it != w.metadata.end()) return std::stoll(it->second);
    if (!w.has("text.token_embedding.weight")) throw std::runtime_error("the text tower has no token embedding");
    const int64_t width = w.at("text.token_embedding.weight").size(1);
    if (width == 512) return 8;
    throw std::runtime_error("the text tower is " + std::to_string(width) +
                             " wide, a width whose attention head count is not known; give it with --heads");
}

Towers load(const Options &o, bool fold)
{
    const QString path = QString::fromStdString(o.get("model"));
    Towers t;
    TensorFile image, text;
    if (o.has("image-file") || o.has("text-file")) {
        // The installed items, each where it was found.
        if (o.has("image-file")) image = readSafeTensors(o.get("image-file"));
        if (o.has("text-file")) text = readSafeTensors(o.get("text-file"));
    } else if (QFileInfo(path).isDir()) {
        const QDir dir(path);
        if (dir.exists(kImageFile)) image = readSafeTensors(dir.filePath(kImageFile).toStdString());
        if (dir.exists(kTextFile)) text = readSafeTensors(dir.filePath(kTextFile).toStdString());
    } else {
        const TensorFile all = readSafeTensors(path.toStdString());
        image = clipmodel::selectTower(all, "visual.");
        text = clipmodel::selectTower(all, "text.");
    }
    if (!image.tensors.empty()) {
        clipmodel::ImageTower tower(std::move(image));
        if (fold && !tower.weights().has("visual.trunk.stem.0.reparam_conv.weight")) {
            TensorFile folded;
            folded.tensors = tower.folded();
            tower = clipmodel::ImageTower(std::move(folded));
        }
        if (o.get("layout") == "channels-last") tower.useChannelsLast();
        else if (o.has("layout") && o.get("layout") != "default") throw std::runtime_error("unknown --layout " + o.get("layout"));
        if (tower.loaded()) t.image.emplace(std::move(tower));
    }
    if (!text.tensors.empty()) {
        const int64_t heads = textHeads(text, o);
        clipmodel::TextTower tower(std::move(text), heads);
        if (tower.loaded()) t.text.emplace(std::move(tower));
    }
    if (!t.image && !t.text) throw std::runtime_error("no tower found in " + path.toStdString());
    return t;
}

torch::Tensor imagesFromBytes(const uint8_t *rgb, int64_t count)
{
    using namespace clipproto;
    torch::Tensor t = torch::from_blob(const_cast<uint8_t *>(rgb), {count, kImageSide, kImageSide, 3}, torch::kUInt8);
    return t.permute({0, 3, 1, 2}).to(torch::kFloat32).div(255.0).contiguous();
}

void printVector(const torch::Tensor &v)
{
    std::ostringstream out;
    out.precision(9);
    out << '[';
    const float *p = v.data_ptr<float>();
    for (int64_t i = 0; i < v.numel(); ++i)
        out << (i ? "," : "") << p[i];
    out << "]\n";
    std::cout << out.str() << std::flush;
}

std::string vocabPath(const Options &o)
{
    if (o.has("vocab")) return o.get("vocab");
    const QFileInfo model(QString::fromStdString(o.get("model")));
    const QDir dir = model.isDir() ? QDir(model.filePath()) : model.dir();
    return dir.filePath(kVocabFile).toStdString();
}

int embed(const Options &o)
{
    const Towers t = load(o, !o.has("no-fold"));
    torch::Tensor out;
    if (o.has("image")) {
        if (!t.image) fail("no image tower");
        const QImage image(QString::fromStdString(o.get("image")));
        const QByteArray rgb = clipimage::preprocess(image);
        if (rgb.isEmpty()) fail("cannot read the image");
        out = t.image->forward(imagesFromBytes(reinterpret_cast<const uint8_t *>(rgb.constData()), 1));
    } else if (o.has("text") || o.has("ids")) {
        if (!t.text) fail("no text tower");
        std::vector<int64_t> ids;
        if (o.has("ids")) {
            std::istringstream in(o.get("ids"));
            int64_t id;
            while (in >> id) ids.push_back(id);
        } else {
            const CLIPTokenizer tokenizer(QString::fromStdString(vocabPath(o)));
            for (qint32 id : tokenizer.encode(QString::fromStdString(o.get("text")))) ids.push_back(id);
        }
        if (ids.size() != size_t(clipproto::kTextLength)) fail("need exactly 77 ids");
        for (int64_t id : ids)
            if (id < 0 || id >= t.text->vocabularySize()) fail("id out of range");
        out = t.text->forward(torch::tensor(ids, torch::kInt64).view({1, -1}));
    } else {
        fail("embed needs --image, --text or --ids");
    }
    out = out.reshape({-1});
    const double norm = out.norm().item<double>();
    if (!std::isfinite(norm) || norm <= 1e-7) fail("the embedding has no direction");
    std::cerr << "raw_norm " << std::setprecision(9) << norm << std::endl;
    printVector(out / norm);
    return 0;
}

int tokenize(const Options &o)
{
    const CLIPTokenizer tokenizer(QString::fromStdString(o.get("vocab")));
    std::ostringstream out;
    out << '[';
    bool first = true;
    for (qint32 id : tokenizer.encode(QString::fromStdString(o.get("text")))) {
        out << (first ? "" : ",") << id;
        first = false;
    }
    out << "]\n";
    std::cout << out.str();
    return 0;
}

double worstCosine(const torch::Tensor &a, const torch::Tensor &b)
{
    const torch::Tensor an = a / a.norm(2, -1, true), bn = b / b.norm(2, -1, true);
    return (an * bn).sum(-1).min().item<double>();
}

// Writes the installed per-tower files: the image tower folded, the text tower with its
// head count. Each is read back and compared with the training-time form before it takes
// its final name.
int fuse(const Options &o)
{
    const QString outDir = QString::fromStdString(o.get("out"));
    if (outDir.isEmpty() || !QDir().mkpath(outDir)) fail("fuse needs a writable --out folder");
    const Towers unfused = load(o, false);
    if (!unfused.image || !unfused.text) fail("fuse needs both towers");

    torch::manual_seed(7);
    torch::Tensor images = torch::rand({2, 3, clipproto::kImageSide, clipproto::kImageSide});
    images[0] = torch::linspace(0, 1, clipproto::kImageSide).view({1, 1, -1}).expand({3, clipproto::kImageSide, -1});
    torch::Tensor ids = torch::zeros({2, clipproto::kTextLength}, torch::kInt64);
    const int64_t vocab = unfused.text->vocabularySize();
    ids[0][0] = vocab - 2;
    ids[0][1] = 320;
    ids[0][2] = vocab - 1;
    ids[1][0] = vocab - 2;
    ids.slice(1, 1, 40)[1] = torch::randint(1, vocab - 2, {39}, torch::kInt64);
    ids[1][40] = vocab - 1;

    const QDir dir(outDir);
    const std::string imagePath = dir.filePath(kImageFile).toStdString(), textPath = dir.filePath(kTextFile).toStdString();
    const std::string heads = std::to_string(unfused.text->heads());
    std::map<std::string, torch::Tensor> textTensors;
    for (const auto &[k, v] : unfused.text->weights().tensors) textTensors[k] = v;
    writeSafeTensors(imagePath + ".partial", unfused.image->folded(),
                     {{"format", "pt"}, {"lumenkite.tower", "image"}, {"lumenkite.form", "fused"}});
    writeSafeTensors(textPath + ".partial", textTensors, {{"format", "pt"}, {"lumenkite.tower", "text"}, {kHeadsKey, heads}});

    const clipmodel::ImageTower fusedImage(readSafeTensors(imagePath + ".partial"));
    const TensorFile textFile = readSafeTensors(textPath + ".partial");
    const clipmodel::TextTower fusedText(textFile, std::stoll(textFile.metadata.at(kHeadsKey)));
    const double imageCos = worstCosine(unfused.image->forward(images), fusedImage.forward(images));
    const double textCos = worstCosine(unfused.text->forward(ids), fusedText.forward(ids));
    std::cerr << "fused/unfused cosine: image " << imageCos << ", text " << textCos << std::endl;
    if (!(imageCos >= 0.9999 && textCos >= 0.9999)) {
        QFile::remove(QString::fromStdString(imagePath + ".partial"));
        QFile::remove(QString::fromStdString(textPath + ".partial"));
        fail("the fused towers do not match the training-time form");
    }
    for (const std::string &p : {imagePath, textPath}) {
        QFile::remove(QString::fromStdString(p));
        if (!QFile::rename(QString::fromStdString(p + ".partial"), QString::fromStdString(p))) fail("cannot write " + p);
    }
    return 0;
}

// ---- serve ----

bool readAll(void *buffer, size_t n)
{
    auto *p = static_cast<char *>(buffer);
    while (n > 0) {
        const ssize_t got = ::read(STDIN_FILENO, p, n);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        p += got;
        n -= size_t(got);
    }
    return true;
}

bool writeAll(const void *buffer, size_t n)
{
    auto *p = static_cast<const char *>(buffer);
    while (n > 0) {
        const ssize_t put = ::write(STDOUT_FILENO, p, n);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        p += put;
        n -= size_t(put);
    }
    return true;
}

bool answer(uint32_t status, const torch::Tensor &values = {})
{
    uint32_t head[4] = {clipproto::kAnswerMagic, status, 0, 0};
    torch::Tensor v;
    if (status == clipproto::kOk) {
        v = values.to(torch::kFloat32).contiguous();
        head[2] = uint32_t(v.size(0));
        head[3] = uint32_t(v.size(1));
    }
    if (!writeAll(head, sizeof head)) return false;
    return status != clipproto::kOk || writeAll(v.data_ptr<float>(), size_t(v.numel()) * sizeof(float));
}

int serve(const Options &o)
{
    std::signal(SIGPIPE, SIG_IGN);
    std::optional<Towers> towers;
    try {
        towers = load(o, true);
    } catch (const std::exception &e) {
        std::cerr << "lumenkite-clip: " << e.what() << std::endl;
        const uint32_t hello[4] = {clipproto::kHelloMagic, clipproto::kFailed, 0, 0};
        writeAll(hello, sizeof hello);
        return 1;
    }
    const uint32_t hello[4] = {clipproto::kHelloMagic, clipproto::kOk,
                               uint32_t(towers->image ? towers->image->dimension() : 0),
                               uint32_t(towers->text ? towers->text->dimension() : 0)};
    if (!writeAll(hello, sizeof hello)) return 0;

    std::vector<uint8_t> payload;
    for (;;) {
        uint32_t head[3];
        if (!readAll(head, sizeof head)) return 0; // the app closed the pipe
        const uint32_t kind = head[1], count = head[2];
        if (head[0] != clipproto::kRequestMagic || (kind != clipproto::kImages && kind != clipproto::kTexts) ||
            count == 0 || count > clipproto::kMaxBatch) {
            answer(clipproto::kBadRequest);
            std::cerr << "lumenkite-clip: unreadable request" << std::endl;
            return 2;
        }
        const size_t item = kind == clipproto::kImages ? size_t(clipproto::kImageBytes) : clipproto::kTextLength * sizeof(int32_t);
        payload.resize(item * count);
        if (!readAll(payload.data(), payload.size())) return 0;
        try {
            torch::Tensor out;
            if (kind == clipproto::kImages) {
                if (!towers->image) { if (!answer(clipproto::kBadRequest)) return 0; continue; }
                out = towers->image->forward(imagesFromBytes(payload.data(), count));
            } else {
                if (!towers->text) { if (!answer(clipproto::kBadRequest)) return 0; continue; }
                torch::Tensor ids = torch::from_blob(payload.data(), {int64_t(count), clipproto::kTextLength}, torch::kInt32)
                                        .to(torch::kInt64);
                const int64_t vocab = towers->text->vocabularySize();
                if (ids.min().item<int64_t>() < 0 || ids.max().item<int64_t>() >= vocab) {
                    if (!answer(clipproto::kBadRequest)) return 0;
                    continue;
                }
                out = towers->text->forward(ids);
            }
            if (!answer(clipproto::kOk, out)) return 0;
        } catch (const std::exception &e) {
            std::cerr << "lumenkite-clip: " << e.what() << std::endl;
            if (!answer(clipproto::kFailed)) return 0;
        }
    }
}

Options parse(int argc, char **argv)
{
    Options o;
    if (argc < 2) return o;
    o.command = argv[1];
    for (int i = 2; i < argc; ++i) {
        std::string a = argv[i];
        if (a.rfind("--", 0) != 0) fail("unexpected argument " + a);
        a = a.substr(2);
        if (a == "no-fold") o.values[a] = "1";
        else if (i + 1 < argc) o.values[a] = argv[++i];
        else fail("--" + a + " needs a value");
    }
    return o;
}

} // namespace

int main(int argc, char **argv)
{
    const Options o = parse(argc, argv);
    // Before torch starts its worker threads, which take the priority of the thread that
    // starts them: a helper doing background work yields the cores to one that answers a
    // person waiting.
    if (o.has("nice")) {
        errno = 0;
        if (::nice(std::stoi(o.get("nice"))) == -1 && errno != 0) std::cerr << "lumenkite-clip: cannot lower the priority" << std::endl;
    }
    const int threads = o.has("threads") ? std::stoi(o.get("threads")) : 4;
    torch::set_num_threads(std::max(1, threads));
    try {
        if (o.command == "tokenize" && o.has("vocab") && o.has("text")) return tokenize(o);
        if (o.command == "embed" && o.has("model")) return embed(o);
        if (o.command == "fuse" && o.has("model")) return fuse(o);
        if (o.command == "serve" && (o.has("model") || o.has("image-file") || o.has("text-file"))) return serve(o);
    } catch (const std::exception &e) {
        fail(e.what());
    }
    std::cerr << "usage:\n"
                 "  lumenkite-clip embed --model DIR-OR-FILE [--heads N] [--vocab FILE] [--no-fold]\n"
                 "                       (--image PNG | --text TEXT | --ids \"49406 ...\")\n"
                 "  lumenkite-clip tokenize --vocab FILE --text TEXT\n"
                 "  lumenkite-clip fuse --model TRAINING-FILE --out DIR [--heads N]\n"
                 "  lumenkite-clip serve (--model DIR-OR-FILE | --image-file F --text-file F) [--heads N] [--threads N]\n"
                 "                       [--layout default|channels-last] [--nice N]\n";
    return 64;
}
