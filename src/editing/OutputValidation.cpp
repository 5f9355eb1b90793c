#include "OutputValidation.h"

#include "library/FileNames.h"
#include "library/L10n.h"

#include <QFileInfo>

#include <algorithm>
#include <cmath>

extern "C" {
#include <libavformat/avformat.h>
}

namespace OutputValidation {

StreamFacts probeStreams(const QString &path)
{
    StreamFacts facts;
    AVFormatContext *ctx = nullptr;
    // A FIFO or device put in place of the file would block the reader for good.
    if (!FileNames::isRegularFile(path)) return facts;
    if (avformat_open_input(&ctx, FileNames::encode(path).constData(), nullptr, nullptr) < 0) return facts;
    // Most containers name their streams and duration in the header; reading packets to
    // learn them is only needed when they do not.
    bool headerKnown = ctx->nb_streams > 0 && ctx->duration != AV_NOPTS_VALUE && ctx->duration > 0;
    for (unsigned i = 0; headerKnown && i < ctx->nb_streams; ++i)
        if (ctx->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_UNKNOWN) headerKnown = false;
    if (!headerKnown && avformat_find_stream_info(ctx, nullptr) < 0) {
        avformat_close_input(&ctx);
        return facts;
    }
    facts.readable = true;
    double longest = 0;
    for (unsigned i = 0; i < ctx->nb_streams; ++i) {
        const AVStream *st = ctx->streams[i];
        const AVCodecParameters *par = st->codecpar;
        if (par->codec_type == AVMEDIA_TYPE_VIDEO && !(st->disposition & AV_DISPOSITION_ATTACHED_PIC) &&
            !facts.hasVideo) {
            facts.hasVideo = true;
            if (st->avg_frame_rate.num > 0 && st->avg_frame_rate.den > 0) facts.frameRate = av_q2d(st->avg_frame_rate);
            if (st->duration != AV_NOPTS_VALUE && st->duration > 0)
                facts.videoDuration = double(st->duration) * av_q2d(st->time_base);
        }
        if (par->codec_type == AVMEDIA_TYPE_AUDIO && !facts.hasAudio) {
            facts.hasAudio = true;
            facts.audioCodec = QString::fromLatin1(avcodec_get_name(par->codec_id));
        }
        if (st->duration != AV_NOPTS_VALUE && st->duration > 0)
            longest = std::max(longest, double(st->duration) * av_q2d(st->time_base));
    }
    if (ctx->duration != AV_NOPTS_VALUE && ctx->duration > 0)
        facts.duration = double(ctx->duration) / AV_TIME_BASE;
    else
        facts.duration = longest;
    if (!std::isfinite(facts.duration) || facts.duration < 0) facts.duration = 0;
    if (!std::isfinite(facts.frameRate) || facts.frameRate < 0) facts.frameRate = 0;
    if (!std::isfinite(facts.videoDuration) || facts.videoDuration < 0) facts.videoDuration = 0;
    avformat_close_input(&ctx);
    return facts;
}

double durationTolerance(double expectedSeconds) { return std::max(0.15 * expectedSeconds, 1.2); }

double frameDuration(double frameRate) { return frameRate >= 1 && frameRate <= 1000 ? 1.0 / frameRate : 0.04; }

static Check validateFacts(const QString &path, double expectedSeconds, StreamFacts *factsOut)
{
    Check check;
    const QFileInfo info(path);
    check.size = info.exists() ? info.size() : 0;
    if (check.size <= 0) {
        check.message = L10n::text(QStringLiteral("edit.outputEmpty"));
        return check;
    }
    const StreamFacts facts = probeStreams(path);
    if (factsOut) *factsOut = facts;
    check.duration = facts.duration;
    if (!facts.readable || !(facts.duration > 0)) {
        check.message = L10n::text(QStringLiteral("edit.outputUnreadable"));
        return check;
    }
    if (std::abs(facts.duration - expectedSeconds) > durationTolerance(expectedSeconds)) {
        check.message = L10n::text(QStringLiteral("edit.outputLength")) + ' ' + QString::number(facts.duration, 'f', 1) +
                        QStringLiteral(" s / ") + QString::number(expectedSeconds, 'f', 1) + QStringLiteral(" s");
        return check;
    }
    check.ok = true;
    return check;
}

Check validate(const QString &path, double expectedSeconds) { return validateFacts(path, expectedSeconds, nullptr); }

Check validateExact(const QString &path, double expectedSeconds, double frameRate, int frames)
{
    StreamFacts facts;
    Check check = validateFacts(path, expectedSeconds, &facts);
    if (!check.ok) return check;
    const double video = facts.videoDuration > 0 ? facts.videoDuration : facts.duration;
    if (std::abs(video - expectedSeconds) > frames * frameDuration(frameRate) + 0.001) {
        check.ok = false;
        check.duration = video;
        check.message = L10n::text(QStringLiteral("edit.outputLength")) + ' ' + QString::number(video, 'f', 2) +
                        QStringLiteral(" s / ") + QString::number(expectedSeconds, 'f', 2) + QStringLiteral(" s");
    }
    return check;
}

double keyframeAtOrBefore(const QString &path, double seconds)
{
    const double unknown = std::nan("");
    if (!FileNames::isRegularFile(path) || !std::isfinite(seconds)) return unknown;
    AVFormatContext *ctx = nullptr;
    if (avformat_open_input(&ctx, FileNames::encode(path).constData(), nullptr, nullptr) < 0) return unknown;
    double found = unknown;
    const int index = av_find_best_stream(ctx, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (index >= 0) {
        const AVStream *st = ctx->streams[index];
        const double base = av_q2d(st->time_base);
        const int64_t start = st->start_time != AV_NOPTS_VALUE ? st->start_time : 0;
        // A hair past the time asked for, so that a key frame exactly there is the one found.
        const int64_t target = start + int64_t(std::llround((std::max(0.0, seconds) + 0.0005) / base));
        if (base > 0 && av_seek_frame(ctx, index, target, AVSEEK_FLAG_BACKWARD) >= 0) {
            AVPacket *packet = av_packet_alloc();
            // The first key packet of the stream after the seek; a bounded look.
            for (int read = 0; packet && read < 2000 && av_read_frame(ctx, packet) >= 0; ++read) {
                const bool key = packet->stream_index == index && (packet->flags & AV_PKT_FLAG_KEY);
                const int64_t pts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
                av_packet_unref(packet);
                if (!key || pts == AV_NOPTS_VALUE) continue;
                found = double(pts - start) * base;
                break;
            }
            av_packet_free(&packet);
        }
    }
    avformat_close_input(&ctx);
    return found;
}

} // namespace OutputValidation
