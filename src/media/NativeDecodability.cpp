#include "NativeDecodability.h"

#include <QFile>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

NativeDecodability probeNativeDecodability(const QString &path)
{
    AVFormatContext *ctx = nullptr;
    if (avformat_open_input(&ctx, QFile::encodeName(path).constData(), nullptr, nullptr) < 0)
        return NativeDecodability::unknown;
    NativeDecodability result = NativeDecodability::noVideo;
    if (ctx->nb_streams == 0 && avformat_find_stream_info(ctx, nullptr) < 0)
        result = NativeDecodability::unknown;
    for (unsigned i = 0; i < ctx->nb_streams; ++i) {
        const AVStream *s = ctx->streams[i];
        if (s->codecpar->codec_type != AVMEDIA_TYPE_VIDEO || (s->disposition & AV_DISPOSITION_ATTACHED_PIC))
            continue;
        switch (s->codecpar->codec_id) {
        case AV_CODEC_ID_H264:
        case AV_CODEC_ID_HEVC:
        case AV_CODEC_ID_MPEG4:
        case AV_CODEC_ID_MPEG1VIDEO:
        case AV_CODEC_ID_MPEG2VIDEO:
        case AV_CODEC_ID_MJPEG:
        case AV_CODEC_ID_H263:
        case AV_CODEC_ID_H263P:
            result = NativeDecodability::decodableVideo;
            break;
        default:
            result = NativeDecodability::undecodableVideo;
            break;
        }
        break;
    }
    avformat_close_input(&ctx);
    return result;
}
