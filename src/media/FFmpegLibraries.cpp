// The FFmpeg functions the program calls, each forwarding to the real library (see
// LazyLibrary.h). Linked directly, libavformat and libavcodec alone bring in about a
// hundred codec, device and network libraries at start, for facts and thumbnails that are
// read off the GUI thread once the window is up.

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/dict.h>
#include <libavutil/display.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include "platform/LazyLibrary.h"

namespace {

#define LK_SONAME(name, major) "lib" name ".so." AV_STRINGIFY(major)
constinit LazyLibrary Util(LK_SONAME("avutil", LIBAVUTIL_VERSION_MAJOR));
constinit LazyLibrary Codec(LK_SONAME("avcodec", LIBAVCODEC_VERSION_MAJOR));
constinit LazyLibrary Format(LK_SONAME("avformat", LIBAVFORMAT_VERSION_MAJOR));
constinit LazyLibrary Scale(LK_SONAME("swscale", LIBSWSCALE_VERSION_MAJOR));
constinit LazyLibrary Resample(LK_SONAME("swresample", LIBSWRESAMPLE_VERSION_MAJOR));
#undef LK_SONAME

} // namespace

extern "C" {

// libavutil
int av_channel_layout_copy(AVChannelLayout *dst, const AVChannelLayout *src) { LK_FORWARD(Util, av_channel_layout_copy, dst, src); }
void av_channel_layout_default(AVChannelLayout *layout, int channels) { LK_FORWARD(Util, av_channel_layout_default, layout, channels); }
void av_channel_layout_uninit(AVChannelLayout *layout) { LK_FORWARD(Util, av_channel_layout_uninit, layout); }
void av_dict_free(AVDictionary **m) { LK_FORWARD(Util, av_dict_free, m); }
int av_dict_set(AVDictionary **pm, const char *key, const char *value, int flags) { LK_FORWARD(Util, av_dict_set, pm, key, value, flags); }
double av_display_rotation_get(const int32_t matrix[9]) { LK_FORWARD(Util, av_display_rotation_get, matrix); }
AVFrame *av_frame_alloc(void) { LK_FORWARD(Util, av_frame_alloc); }
void av_frame_free(AVFrame **frame) { LK_FORWARD(Util, av_frame_free, frame); }
void av_frame_move_ref(AVFrame *dst, AVFrame *src) { LK_FORWARD(Util, av_frame_move_ref, dst, src); }
void av_frame_unref(AVFrame *frame) { LK_FORWARD(Util, av_frame_unref, frame); }
void av_log_set_level(int level) { LK_FORWARD(Util, av_log_set_level, level); }

// libavcodec
AVPacket *av_packet_alloc(void) { LK_FORWARD(Codec, av_packet_alloc); }
void av_packet_free(AVPacket **pkt) { LK_FORWARD(Codec, av_packet_free, pkt); }
void av_packet_unref(AVPacket *pkt) { LK_FORWARD(Codec, av_packet_unref, pkt); }
AVCodecContext *avcodec_alloc_context3(const AVCodec *codec) { LK_FORWARD(Codec, avcodec_alloc_context3, codec); }
const AVCodec *avcodec_find_decoder(enum AVCodecID id) { LK_FORWARD(Codec, avcodec_find_decoder, id); }
void avcodec_flush_buffers(AVCodecContext *avctx) { LK_FORWARD(Codec, avcodec_flush_buffers, avctx); }
void avcodec_free_context(AVCodecContext **avctx) { LK_FORWARD(Codec, avcodec_free_context, avctx); }
const char *avcodec_get_name(enum AVCodecID id) { LK_FORWARD(Codec, avcodec_get_name, id); }
int avcodec_open2(AVCodecContext *avctx, const AVCodec *codec, AVDictionary **options) { LK_FORWARD(Codec, avcodec_open2, avctx, codec, options); }
int avcodec_parameters_to_context(AVCodecContext *codec, const AVCodecParameters *par) { LK_FORWARD(Codec, avcodec_parameters_to_context, codec, par); }
int avcodec_receive_frame(AVCodecContext *avctx, AVFrame *frame) { LK_FORWARD(Codec, avcodec_receive_frame, avctx, frame); }
int avcodec_send_packet(AVCodecContext *avctx, const AVPacket *avpkt) { LK_FORWARD(Codec, avcodec_send_packet, avctx, avpkt); }

// libavformat
enum AVCodecID av_codec_get_id(const struct AVCodecTag *const *tags, unsigned int tag) { LK_FORWARD(Format, av_codec_get_id, tags, tag); }
unsigned int av_codec_get_tag(const struct AVCodecTag *const *tags, enum AVCodecID id) { LK_FORWARD(Format, av_codec_get_tag, tags, id); }
int av_find_best_stream(AVFormatContext *ic, enum AVMediaType type, int wanted, int related, const AVCodec **decoder, int flags)
{
    LK_FORWARD(Format, av_find_best_stream, ic, type, wanted, related, decoder, flags);
}
int av_read_frame(AVFormatContext *s, AVPacket *pkt) { LK_FORWARD(Format, av_read_frame, s, pkt); }
int av_seek_frame(AVFormatContext *s, int stream, int64_t timestamp, int flags) { LK_FORWARD(Format, av_seek_frame, s, stream, timestamp, flags); }
uint8_t *av_stream_get_side_data(const AVStream *stream, enum AVPacketSideDataType type, size_t *size)
{
    LK_FORWARD(Format, av_stream_get_side_data, stream, type, size);
}
void avformat_close_input(AVFormatContext **s) { LK_FORWARD(Format, avformat_close_input, s); }
int avformat_find_stream_info(AVFormatContext *ic, AVDictionary **options) { LK_FORWARD(Format, avformat_find_stream_info, ic, options); }
const struct AVCodecTag *avformat_get_mov_video_tags(void) { LK_FORWARD(Format, avformat_get_mov_video_tags); }
int avformat_open_input(AVFormatContext **ps, const char *url, const AVInputFormat *fmt, AVDictionary **options)
{
    LK_FORWARD(Format, avformat_open_input, ps, url, fmt, options);
}

// libswscale
void sws_freeContext(struct SwsContext *context) { LK_FORWARD(Scale, sws_freeContext, context); }
struct SwsContext *sws_getContext(int srcW, int srcH, enum AVPixelFormat srcFormat, int dstW, int dstH,
                                  enum AVPixelFormat dstFormat, int flags, SwsFilter *srcFilter, SwsFilter *dstFilter,
                                  const double *param)
{
    LK_FORWARD(Scale, sws_getContext, srcW, srcH, srcFormat, dstW, dstH, dstFormat, flags, srcFilter, dstFilter, param);
}
int sws_scale(struct SwsContext *c, const uint8_t *const srcSlice[], const int srcStride[], int srcSliceY, int srcSliceH,
              uint8_t *const dst[], const int dstStride[])
{
    LK_FORWARD(Scale, sws_scale, c, srcSlice, srcStride, srcSliceY, srcSliceH, dst, dstStride);
}

// libswresample
int swr_alloc_set_opts2(struct SwrContext **ps, AVChannelLayout *outLayout, enum AVSampleFormat outFormat,
                        int outRate, AVChannelLayout *inLayout, enum AVSampleFormat inFormat, int inRate,
                        int logOffset, void *logContext)
{
    LK_FORWARD(Resample, swr_alloc_set_opts2, ps, outLayout, outFormat, outRate, inLayout, inFormat, inRate, logOffset,
               logContext);
}
int swr_convert(struct SwrContext *s, uint8_t **out, int outCount, const uint8_t **in, int inCount)
{
    LK_FORWARD(Resample, swr_convert, s, out, outCount, in, inCount);
}
void swr_free(struct SwrContext **s) { LK_FORWARD(Resample, swr_free, s); }
int swr_get_out_samples(struct SwrContext *s, int inSamples) { LK_FORWARD(Resample, swr_get_out_samples, s, inSamples); }
int swr_init(struct SwrContext *s) { LK_FORWARD(Resample, swr_init, s); }

} // extern "C"
