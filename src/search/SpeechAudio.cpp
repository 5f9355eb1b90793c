#include "SpeechAudio.h"

#include "library/FileNames.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QUuid>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

namespace SpeechAudio {

namespace {

// A path that is a regular file right now (a FIFO or device would block the reader).
bool isRegularFile(const QString &path)
{
    return FileNames::isRegularFile(path);
}

struct Decoder {
    AVFormatContext *format = nullptr;
    AVCodecContext *codec = nullptr;
    SwrContext *resampler = nullptr;
    AVPacket *packet = nullptr;
    AVFrame *frame = nullptr;
    std::vector<int16_t> out;

    ~Decoder()
    {
        av_frame_free(&frame);
        av_packet_free(&packet);
        swr_free(&resampler);
        avcodec_free_context(&codec);
        avformat_close_input(&format);
    }
};

enum class Opened { ok, cannotOpen, noAudio };

Opened open(Decoder &d, const QString &path, int &streamIndex)
{
    if (avformat_open_input(&d.format, FileNames::encode(path).constData(), nullptr, nullptr) < 0) return Opened::cannotOpen;
    if (avformat_find_stream_info(d.format, nullptr) < 0) return Opened::cannotOpen;
    const AVCodec *codec = nullptr;
    streamIndex = av_find_best_stream(d.format, AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
    if (streamIndex < 0 || !codec) return streamIndex == AVERROR_DECODER_NOT_FOUND ? Opened::cannotOpen : Opened::noAudio;
    d.codec = avcodec_alloc_context3(codec);
    if (!d.codec || avcodec_parameters_to_context(d.codec, d.format->streams[streamIndex]->codecpar) < 0 ||
        avcodec_open2(d.codec, codec, nullptr) < 0)
        return Opened::cannotOpen;
    AVChannelLayout mono = AV_CHANNEL_LAYOUT_MONO;
    AVChannelLayout in{};
    if (d.codec->ch_layout.nb_channels > 0)
        av_channel_layout_copy(&in, &d.codec->ch_layout);
    else
        av_channel_layout_default(&in, 1);
    const int made = swr_alloc_set_opts2(&d.resampler, &mono, AV_SAMPLE_FMT_S16, kSampleRate, &in, d.codec->sample_fmt,
                                         d.codec->sample_rate, 0, nullptr);
    av_channel_layout_uninit(&in);
    if (made < 0 || swr_init(d.resampler) < 0) return Opened::cannotOpen;
    d.packet = av_packet_alloc();
    d.frame = av_frame_alloc();
    return d.packet && d.frame ? Opened::ok : Opened::cannotOpen;
}

// Resamples one decoded frame (or flushes with none) and hands the samples on.
bool deliver(Decoder &d, const AVFrame *frame, const SampleSink &sink)
{
    const int inSamples = frame ? frame->nb_samples : 0;
    const int capacity = swr_get_out_samples(d.resampler, inSamples);
    if (capacity <= 0) return true;
    d.out.resize(size_t(capacity));
    uint8_t *outPlanes[1] = {reinterpret_cast<uint8_t *>(d.out.data())};
    const int got = swr_convert(d.resampler, outPlanes, capacity,
                                frame ? const_cast<const uint8_t **>(frame->extended_data) : nullptr, inSamples);
    if (got < 0) return true; // a bad frame is skipped
    return got == 0 || sink(d.out.data(), size_t(got));
}

enum class Run { finished, cancelled };

Run decodeAll(Decoder &d, int streamIndex, const SampleSink &sink)
{
    const auto drain = [&]() -> bool {
        while (avcodec_receive_frame(d.codec, d.frame) == 0) {
            const bool go = deliver(d, d.frame, sink);
            av_frame_unref(d.frame);
            if (!go) return false;
        }
        return true;
    };
    while (av_read_frame(d.format, d.packet) >= 0) {
        if (d.packet->stream_index == streamIndex) {
            // A corrupt packet is passed over; the rest of the track still counts.
            if (avcodec_send_packet(d.codec, d.packet) >= 0 && !drain()) {
                av_packet_unref(d.packet);
                return Run::cancelled;
            }
        }
        av_packet_unref(d.packet);
    }
    avcodec_send_packet(d.codec, nullptr);
    if (!drain()) return Run::cancelled;
    return deliver(d, nullptr, sink) ? Run::finished : Run::cancelled;
}

// The ffmpeg program's way: decode to a temporary raw file, then stream that file.
std::optional<Failure> decodeWithProgram(const QString &path, const QString &ffmpeg, const SampleSink &sink,
                                         const std::function<bool()> &cancelled)
{
    // A command line carries text: bytes that are not UTF-8 would name another file.
    if (FileNames::hasRawBytes(path)) return Failure::extractionFailed;
    const QString raw = QDir(QDir::tempPath()).filePath(temporaryFilePrefix() +
                                                        QUuid::createUuid().toString(QUuid::WithoutBraces) + ".raw");
    struct Remove {
        QString file;
        ~Remove() { QFile::remove(file); }
    } remove{raw};
    QProcess process;
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    // "file:" keeps a name that starts with "-" from being read as an option.
    process.start(ffmpeg, {"-nostdin", "-v", "error", "-y", "-i", "file:" + path, "-vn", "-ac", "1", "-ar",
                           QString::number(kSampleRate), "-f", "s16le", "-acodec", "pcm_s16le", "file:" + raw});
    if (!process.waitForStarted(10000)) return Failure::extractionFailed;
    while (!process.waitForFinished(100)) {
        if (process.state() == QProcess::NotRunning) break;
        if (cancelled && cancelled()) {
            process.kill();
            process.waitForFinished(2000);
            return Failure::cancelled;
        }
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) return Failure::extractionFailed;
    QFile file(raw);
    if (!file.open(QIODevice::ReadOnly)) return Failure::extractionFailed;
    if (file.size() == 0) return Failure::noAudioTrack; // ffmpeg found no sound to write
    std::vector<int16_t> chunk(kSampleRate);
    for (;;) {
        const qint64 got = file.read(reinterpret_cast<char *>(chunk.data()), qint64(chunk.size() * sizeof(int16_t)));
        if (got <= 0) break;
        if (!sink(chunk.data(), size_t(got) / sizeof(int16_t))) return Failure::cancelled;
    }
    return std::nullopt;
}

} // namespace

QString temporaryFilePrefix() { return QStringLiteral("Lumenkite-Speech-"); }

std::optional<Failure> decode(const QString &path, const std::optional<QString> &ffmpegPath, const SampleSink &sink,
                              const std::function<bool()> &cancelled)
{
    if (!isRegularFile(path)) return Failure::noAudioTrack;
    {
        Decoder d;
        int stream = -1;
        switch (open(d, path, stream)) {
        case Opened::ok:
            return decodeAll(d, stream, sink) == Run::finished ? std::nullopt : std::optional<Failure>(Failure::cancelled);
        case Opened::noAudio:
            return Failure::noAudioTrack;
        case Opened::cannotOpen:
            break;
        }
    }
    if (!ffmpegPath) return Failure::extractionFailed;
    return decodeWithProgram(path, *ffmpegPath, sink, cancelled);
}

} // namespace SpeechAudio
