#include "NativeDecodability.h"

#include "FFmpegMedia.h"

#include "library/FileNames.h"

#include <QFile>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

NativeDecodability probeNativeDecodability(const QString &path)
{
    AVFormatContext *ctx = nullptr;
    if (!FileNames::isRegularFile(path)) // a FIFO would block the reader
        return NativeDecodability::unknown;
    if (avformat_open_input(&ctx, FileNames::encode(path).constData(), nullptr, nullptr) < 0)
        return NativeDecodability::unknown;
    NativeDecodability result = NativeDecodability::noVideo;
    if (ctx->nb_streams == 0 && avformat_find_stream_info(ctx, nullptr) < 0)
        result = NativeDecodability::unknown;
    for (unsigned i = 0; i < ctx->nb_streams; ++i) {
        const AVStream *s = ctx->streams[i];
        if (s->codecpar->codec_type != AVMEDIA_TYPE_VIDEO || (s->disposition & AV_DISPOSITION_ATTACHED_PIC))
            continue;
        result = lkmedia::isNativelyDecodedCodec(s->codecpar->codec_id) ? NativeDecodability::decodableVideo
                                                                          : NativeDecodability::undecodableVideo;
        break;
    }
    avformat_close_input(&ctx);
    return result;
}
