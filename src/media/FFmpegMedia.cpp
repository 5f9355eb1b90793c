#include "FFmpegMedia.h"

#include "MediaMetadataService.h"

#include "library/FileNames.h"

#include <QFile>
#include <QTransform>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/display.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

namespace lkmedia {
namespace {

struct FormatCloser {
    void operator()(AVFormatContext *c) const { avformat_close_input(&c); }
};
struct CodecCloser {
    void operator()(AVCodecContext *c) const { avcodec_free_context(&c); }
};
struct FrameFree {
    void operator()(AVFrame *f) const { av_frame_free(&f); }
};
struct PacketFree {
    void operator()(AVPacket *p) const { av_packet_free(&p); }
};
using FormatPtr = std::unique_ptr<AVFormatContext, FormatCloser>;

void quietLibraries()
{
    static const bool once = [] {
        av_log_set_level(AV_LOG_FATAL);
        return true;
    }();
    (void)once;
}

// Frames above this many pixels are never decoded here: a 16000x16000 picture alone takes
// hundreds of megabytes, and a few such files on screen would exhaust memory. 8K passes.
constexpr int64_t kMaxDecodePixels = 40000000;

FormatPtr openFile(const QString &path)
{
    quietLibraries();
    // A FIFO or device would block the reader for good; only regular files are read.
    if (!FileNames::isRegularFile(path))
        return {};
    AVFormatContext *raw = nullptr;
    if (avformat_open_input(&raw, FileNames::encode(path).constData(), nullptr, nullptr) < 0)
        return {};
    FormatPtr fmt(raw);
    // Reading the stream facts decodes a few frames: at a bounded size. A stream refused
    // for its size keeps the size its header gave (the reader would clear it).
    std::vector<AVDictionary *> options(fmt->nb_streams, nullptr);
    std::vector<std::pair<int, int>> headerSizes;
    const std::string budget = std::to_string(kMaxDecodePixels);
    for (unsigned i = 0; i < fmt->nb_streams; ++i) {
        av_dict_set(&options[i], "max_pixels", budget.c_str(), 0);
        headerSizes.emplace_back(fmt->streams[i]->codecpar->width, fmt->streams[i]->codecpar->height);
    }
    const int found = avformat_find_stream_info(fmt.get(), options.empty() ? nullptr : options.data());
    for (AVDictionary *&o : options)
        av_dict_free(&o);
    bool oversized = false;
    for (unsigned i = 0; i < fmt->nb_streams && i < headerSizes.size(); ++i) {
        AVCodecParameters *par = fmt->streams[i]->codecpar;
        const auto [w, h] = headerSizes[i];
        if (int64_t(w) * h > kMaxDecodePixels) {
            oversized = true;
            par->width = w;
            par->height = h;
        }
    }
    if (found < 0 && !oversized)
        return {};
    return fmt;
}

// The first video stream; cover art counts only when `withCoverArt` (ffprobe's "v:0" does).
AVStream *firstVideoStream(AVFormatContext *fmt, bool withCoverArt)
{
    for (unsigned i = 0; i < fmt->nb_streams; ++i) {
        AVStream *st = fmt->streams[i];
        if (st->codecpar->codec_type != AVMEDIA_TYPE_VIDEO)
            continue;
        if (!withCoverArt && (st->disposition & AV_DISPOSITION_ATTACHED_PIC))
            continue;
        return st;
    }
    return nullptr;
}

std::optional<double> containerDuration(const AVFormatContext *fmt)
{
    if (fmt->duration == AV_NOPTS_VALUE)
        return std::nullopt;
    const double seconds = double(fmt->duration) / AV_TIME_BASE;
    if (!std::isfinite(seconds) || seconds <= 0)
        return std::nullopt;
    return seconds;
}

const int32_t *displayMatrix(const AVStream *st)
{
    size_t size = 0;
    const uint8_t *data = av_stream_get_side_data(st, AV_PKT_DATA_DISPLAYMATRIX, &size);
    return data && size >= 9 * sizeof(int32_t) ? reinterpret_cast<const int32_t *>(data) : nullptr;
}

quint32 bigEndian(uint32_t tag)
{
    return (tag & 0xff) << 24 | ((tag >> 8) & 0xff) << 16 | ((tag >> 16) & 0xff) << 8 | (tag >> 24);
}

// The four-character code the platform's asset reader would report for the track.
quint32 fourCharCode(const AVFormatContext *fmt, const AVCodecParameters *par)
{
    const bool isMov = fmt->iformat && QByteArray(fmt->iformat->name).contains("mov");
    uint32_t tag = isMov ? par->codec_tag : 0;
    // A sample-entry tag of another codec (MJPEG is stored under "mp4v" in MP4) names the
    // entry, not the codec.
    const AVCodecTag *const movTags[] = {avformat_get_mov_video_tags(), nullptr};
    if (tag && av_codec_get_id(movTags, tag) != par->codec_id)
        tag = 0;
    if (!tag) {
        switch (par->codec_id) {
        case AV_CODEC_ID_H264: tag = MKTAG('a', 'v', 'c', '1'); break;
        case AV_CODEC_ID_HEVC: tag = MKTAG('h', 'v', 'c', '1'); break;
        case AV_CODEC_ID_MPEG4: tag = MKTAG('m', 'p', '4', 'v'); break;
        default: {
            const AVCodecTag *const tables[] = {avformat_get_mov_video_tags(), nullptr};
            tag = av_codec_get_tag(tables, par->codec_id);
        }
        }
    }
    return bigEndian(tag);
}

} // namespace

int quarterTurns(const AVStream *st)
{
    const int32_t *m = displayMatrix(st);
    if (!m)
        return 0;
    const double ccw = av_display_rotation_get(m);
    if (!std::isfinite(ccw))
        return 0;
    const long turns = std::lround(-ccw / 90.0);
    return int(((turns % 4) + 4) % 4);
}

bool isNativelyDecodedCodec(int avCodecId)
{
    switch (avCodecId) {
    case AV_CODEC_ID_H264:
    case AV_CODEC_ID_HEVC:
    case AV_CODEC_ID_MPEG4:
    case AV_CODEC_ID_MPEG1VIDEO:
    case AV_CODEC_ID_MPEG2VIDEO:
    case AV_CODEC_ID_MJPEG:
    case AV_CODEC_ID_H263:
        return true;
    default:
        return false;
    }
}

std::optional<VideoMediaInfo> probeFile(const QString &path, bool nativeExtension)
{
    FormatPtr fmt = openFile(path);
    if (!fmt)
        return std::nullopt;

    VideoMediaInfo info;
    const AVStream *track = firstVideoStream(fmt.get(), false);
    if (nativeExtension && track && isNativelyDecodedCodec(track->codecpar->codec_id) &&
        avcodec_find_decoder(track->codecpar->codec_id)) {
        const AVCodecParameters *par = track->codecpar;
        info.duration = containerDuration(fmt.get());
        // The natural size through the display matrix, as the platform reader reports it.
        double a = 1, b = 0, c = 0, d = 1;
        if (const int32_t *m = displayMatrix(track)) {
            a = m[0] / 65536.0;
            b = m[1] / 65536.0;
            c = m[3] / 65536.0;
            d = m[4] / 65536.0;
        }
        const double w = std::abs(a * par->width + c * par->height);
        const double h = std::abs(b * par->width + d * par->height);
        if (std::lround(w) > 0 && std::lround(h) > 0) {
            info.width = int(std::lround(w));
            info.height = int(std::lround(h));
        }
        AVRational rate = track->avg_frame_rate;
        if (rate.num <= 0 || rate.den <= 0)
            rate = track->r_frame_rate;
        if (rate.num > 0 && rate.den > 0)
            info.fps = av_q2d(rate);
        if (const quint32 code = fourCharCode(fmt.get(), par))
            info.codec = MediaMetadataService::codecName(code);
        info.isPlayableNatively = true;
        return info;
    }

    // What the fallback probe would print for this file.
    info.duration = containerDuration(fmt.get());
    const AVStream *st = firstVideoStream(fmt.get(), true);
    if (!st)
        return info;
    const AVCodecParameters *par = st->codecpar;
    info.width = par->width;
    info.height = par->height;
    info.codec = QString::fromLatin1(avcodec_get_name(par->codec_id)).toUpper();
    if (st->avg_frame_rate.num > 0 && st->avg_frame_rate.den > 0)
        info.fps = double(st->avg_frame_rate.num) / double(st->avg_frame_rate.den);
    return info;
}

QImage scaledToImage(int avPixelFormat, int width, int height, const uint8_t *const planes[], const int strides[],
                     int outWidth, int outHeight)
{
    if (width <= 0 || height <= 0 || outWidth <= 0 || outHeight <= 0)
        return {};
    SwsContext *sws = sws_getContext(width, height, AVPixelFormat(avPixelFormat), outWidth, outHeight, AV_PIX_FMT_RGB32,
                                     SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (!sws)
        return {};
    QImage image(outWidth, outHeight, QImage::Format_RGB32);
    uint8_t *dst[4] = {image.bits(), nullptr, nullptr, nullptr};
    int dstStride[4] = {int(image.bytesPerLine()), 0, 0, 0};
    const int lines = sws_scale(sws, planes, strides, 0, height, dst, dstStride);
    sws_freeContext(sws);
    return lines > 0 ? image : QImage();
}

QImage decodeFrame(const QString &path, double seconds, int maxWidth, int maxHeight,
                   const std::function<bool()> &stop, bool exact, double *shownAt)
{
    auto stopped = [&] { return stop && stop(); };
    FormatPtr fmt = openFile(path);
    if (!fmt || stopped())
        return {};
    AVStream *st = firstVideoStream(fmt.get(), false);
    if (!st)
        return {};
    const AVCodec *codec = avcodec_find_decoder(st->codecpar->codec_id);
    if (!codec)
        return {};
    if (int64_t(st->codecpar->width) * st->codecpar->height > kMaxDecodePixels)
        return {};
    std::unique_ptr<AVCodecContext, CodecCloser> dec(avcodec_alloc_context3(codec));
    if (!dec || avcodec_parameters_to_context(dec.get(), st->codecpar) < 0)
        return {};
    // Also when the stream's header understates the frames' size.
    dec->max_pixels = kMaxDecodePixels;
    // Files are decoded side by side; one thread each keeps a single frame's latency low.
    dec->thread_count = 1;
    if (avcodec_open2(dec.get(), codec, nullptr) < 0)
        return {};

    for (unsigned i = 0; i < fmt->nb_streams; ++i)
        if (fmt->streams[i] != st)
            fmt->streams[i]->discard = AVDISCARD_ALL;

    // The key frame at or before the wanted time; a file that cannot seek is read from its start.
    int64_t target = int64_t(seconds / av_q2d(st->time_base));
    if (st->start_time != AV_NOPTS_VALUE)
        target += st->start_time;
    av_seek_frame(fmt.get(), st->index, target, AVSEEK_FLAG_BACKWARD);

    std::unique_ptr<AVPacket, PacketFree> pkt(av_packet_alloc());
    std::unique_ptr<AVFrame, FrameFree> frame(av_frame_alloc());
    std::unique_ptr<AVFrame, FrameFree> last(av_frame_alloc());
    AVRational rate = st->avg_frame_rate.num > 0 ? st->avg_frame_rate : st->r_frame_rate;
    const int64_t halfFrame = rate.num > 0 && rate.den > 0 ? int64_t(0.5 / av_q2d(rate) / av_q2d(st->time_base)) : 0;
    // Decodes from where the file was positioned until a frame comes out; false when stopped.
    bool gotFrame = false;
    auto decodeOn = [&] {
        bool flushed = false;
        int packets = 0;
        while (!gotFrame) {
            if (stopped())
                return false;
            if (!flushed) {
                const bool more = av_read_frame(fmt.get(), pkt.get()) >= 0;
                if (!more || ++packets > 2000) {
                    av_packet_unref(pkt.get());
                    flushed = true;
                    avcodec_send_packet(dec.get(), nullptr);
                } else {
                    if (pkt->stream_index == st->index)
                        avcodec_send_packet(dec.get(), pkt.get());
                    av_packet_unref(pkt.get());
                }
            }
            const int rc = avcodec_receive_frame(dec.get(), frame.get());
            if (rc == 0) {
                gotFrame = true;
                // An exact picture decodes on from the key frame to the wanted time; the
                // last frame of the file stands for a time past its end.
                const int64_t pts = frame->best_effort_timestamp;
                if (exact && pts != AV_NOPTS_VALUE && pts < target - halfFrame) {
                    av_frame_unref(last.get());
                    av_frame_move_ref(last.get(), frame.get());
                    gotFrame = false;
                }
            } else if (flushed) {
                if (last->width > 0) {
                    av_frame_move_ref(frame.get(), last.get());
                    gotFrame = true;
                }
                break;
            }
        }
        return true;
    };
    if (!decodeOn())
        return {};
    if (!gotFrame && seconds > 0) {
        // Seeking can land past the only key frame (an MPEG-TS clip with one at its start,
        // say), and then nothing decodes: read the file from its start instead.
        avcodec_flush_buffers(dec.get());
        const bool byBytes = fmt->iformat && !(fmt->iformat->flags & AVFMT_NO_BYTE_SEEK);
        if (byBytes)
            av_seek_frame(fmt.get(), -1, 0, AVSEEK_FLAG_BYTE | AVSEEK_FLAG_BACKWARD);
        else
            av_seek_frame(fmt.get(), st->index, st->start_time != AV_NOPTS_VALUE ? st->start_time : 0,
                          AVSEEK_FLAG_BACKWARD);
        if (!decodeOn())
            return {};
    }
    if (!gotFrame || frame->width <= 0 || frame->height <= 0)
        return {};
    if (shownAt) {
        const int64_t pts = frame->best_effort_timestamp;
        const int64_t start = st->start_time != AV_NOPTS_VALUE ? st->start_time : 0;
        const double at = pts != AV_NOPTS_VALUE ? double(pts - start) * av_q2d(st->time_base) : seconds;
        *shownAt = std::isfinite(at) ? std::max(0.0, at) : seconds;
    }

    const int turns = quarterTurns(st);
    double srcW = frame->width;
    const double srcH = frame->height;
    const AVRational sar = frame->sample_aspect_ratio.num > 0 ? frame->sample_aspect_ratio
                                                               : st->sample_aspect_ratio;
    if (sar.num > 0 && sar.den > 0)
        srcW *= av_q2d(sar);
    const bool sideways = turns % 2 == 1;
    const double shownW = sideways ? srcH : srcW;
    const double shownH = sideways ? srcW : srcH;
    double scale = 1.0;
    if (maxWidth > 0)
        scale = std::min(scale, maxWidth / shownW);
    if (maxHeight > 0)
        scale = std::min(scale, maxHeight / shownH);
    const int outW = std::max(1, int(std::lround(srcW * scale)));
    const int outH = std::max(1, int(std::lround(srcH * scale)));

    QImage image = scaledToImage(frame->format, frame->width, frame->height, frame->data, frame->linesize, outW, outH);
    if (image.isNull())
        return {};
    if (turns)
        image = image.transformed(QTransform().rotate(90.0 * turns));
    return image;
}

} // namespace lkmedia
