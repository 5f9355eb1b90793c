#include "OutputValidation.h"

#include "library/FileNames.h"

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
        if (par->codec_type == AVMEDIA_TYPE_VIDEO && !(st->disposition & AV_DISPOSITION_ATTACHED_PIC))
            facts.hasVideo = true;
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
    avformat_close_input(&ctx);
    return facts;
}

double durationTolerance(double expectedSeconds) { return std::max(0.15 * expectedSeconds, 1.2); }

Check validate(const QString &path, double expectedSeconds)
{
    Check check;
    const QFileInfo info(path);
    check.size = info.exists() ? info.size() : 0;
    if (check.size <= 0) {
        check.message = QStringLiteral("The exported file is empty.");
        return check;
    }
    const StreamFacts facts = probeStreams(path);
    check.duration = facts.duration;
    if (!facts.readable || !(facts.duration > 0)) {
        check.message = QStringLiteral("The exported file cannot be read as a video.");
        return check;
    }
    if (std::abs(facts.duration - expectedSeconds) > durationTolerance(expectedSeconds)) {
        check.message = QStringLiteral("The exported file lasts ") + QString::number(facts.duration, 'f', 1) +
                        QStringLiteral(" s instead of ") + QString::number(expectedSeconds, 'f', 1) +
                        QStringLiteral(" s.");
        return check;
    }
    check.ok = true;
    return check;
}

} // namespace OutputValidation
