#include "NativeDecodability.h"

#include "FFmpegMedia.h"

#include "library/FileNames.h"

#include <QFile>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

NativeVideoHeader probeNativeVideoHeader(const QString &path)
{
    AVFormatContext *ctx = nullptr;
    if (!FileNames::isRegularFile(path)) // a FIFO would block the reader
        return {};
    if (avformat_open_input(&ctx, FileNames::encode(path).constData(), nullptr, nullptr) < 0)
        return {};
    NativeVideoHeader header;
    NativeDecodability &result = header.decodability;
    result = NativeDecodability::noVideo;
    if (ctx->nb_streams == 0 && avformat_find_stream_info(ctx, nullptr) < 0)
        result = NativeDecodability::unknown;
    for (unsigned i = 0; i < ctx->nb_streams; ++i) {
        const AVStream *s = ctx->streams[i];
        if (s->codecpar->codec_type != AVMEDIA_TYPE_VIDEO || (s->disposition & AV_DISPOSITION_ATTACHED_PIC))
            continue;
        result = lkmedia::isNativelyDecodedCodec(s->codecpar->codec_id) ? NativeDecodability::decodableVideo
                                                                          : NativeDecodability::undecodableVideo;
        header.quarterTurns = lkmedia::quarterTurns(s);
        if (s->codecpar->width > 0 && s->codecpar->height > 0)
            header.storedSize = QSize(s->codecpar->width, s->codecpar->height);
        break;
    }
    avformat_close_input(&ctx);
    return header;
}
