#include "media_decoder.h"

#include <algorithm>
#include <chrono>
#include <vector>

#include <QFileInfo>
#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

namespace tavri {
namespace {

struct FormatCloser {
  void operator()(AVFormatContext* c) const { avformat_close_input(&c); }
};
using FormatPtr = std::unique_ptr<AVFormatContext, FormatCloser>;

// A file that hangs the demuxer must not stall the scan for ever: each
// probe on a thread has a deadline, after which the decoder gives up and
// the item gets its fallbacks.
constexpr auto kProbeTimeLimit = std::chrono::seconds(15);
thread_local std::chrono::steady_clock::time_point probe_deadline;

int past_deadline(void*) { return std::chrono::steady_clock::now() > probe_deadline ? 1 : 0; }

FormatPtr open_input(const QString& path, bool find_info) {
  // Unreadable files are expected in a content folder; their fallbacks say
  // enough, so the decoder's own complaints stay off the console.
  static const bool quiet = [] {
    av_log_set_level(AV_LOG_FATAL);
    return true;
  }();
  (void)quiet;
  probe_deadline = std::chrono::steady_clock::now() + kProbeTimeLimit;
  AVFormatContext* raw = avformat_alloc_context();
  if (!raw) return nullptr;
  raw->interrupt_callback.callback = past_deadline;
  raw->interrupt_callback.opaque = nullptr;
  // On failure avformat_open_input frees the context itself.
  if (avformat_open_input(&raw, QFile::encodeName(path).constData(), nullptr, nullptr) < 0) return nullptr;
  FormatPtr ctx(raw);
  if (find_info && avformat_find_stream_info(ctx.get(), nullptr) < 0) return nullptr;
  return ctx;
}

bool is_picture_stream(const AVStream* s) {
  return s->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && !(s->disposition & AV_DISPOSITION_ATTACHED_PIC);
}

QString codec_display_name(AVCodecID id) {
  switch (id) {
    case AV_CODEC_ID_H264: return "H.264";
    case AV_CODEC_ID_HEVC: return "HEVC";
    case AV_CODEC_ID_MPEG4: return "MPEG-4 Video";
    case AV_CODEC_ID_PRORES: return "Apple ProRes";
    case AV_CODEC_ID_MJPEG: return "Photo - JPEG";
    case AV_CODEC_ID_AAC: return "AAC";
    case AV_CODEC_ID_MP3: return "MPEG Layer 3";
    case AV_CODEC_ID_PCM_S16LE: case AV_CODEC_ID_PCM_S16BE: return "Linear PCM";
    default: {
      const AVCodecDescriptor* d = avcodec_descriptor_get(id);
      return d ? QString::fromUtf8(d->name).toUpper() : QString();
    }
  }
}

using FramePtr = std::unique_ptr<AVFrame, void (*)(AVFrame*)>;
FramePtr new_frame() {
  return FramePtr(av_frame_alloc(), [](AVFrame* f) { av_frame_free(&f); });
}
using CodecPtr = std::unique_ptr<AVCodecContext, void (*)(AVCodecContext*)>;
CodecPtr new_codec(const AVCodec* codec) {
  return CodecPtr(avcodec_alloc_context3(codec), [](AVCodecContext* c) { avcodec_free_context(&c); });
}
using PacketPtr = std::unique_ptr<AVPacket, void (*)(AVPacket*)>;
PacketPtr new_packet() {
  return PacketPtr(av_packet_alloc(), [](AVPacket* p) { av_packet_free(&p); });
}

// The first decodable picture of the best video stream, or nothing.
FramePtr decode_first_frame(AVFormatContext* ctx) {
  FramePtr none(nullptr, [](AVFrame*) {});
  int index = av_find_best_stream(ctx, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  if (index < 0 || !is_picture_stream(ctx->streams[index])) return none;
  const AVCodecParameters* par = ctx->streams[index]->codecpar;
  const AVCodec* codec = avcodec_find_decoder(par->codec_id);
  if (!codec) return none;
  CodecPtr dec = new_codec(codec);
  if (!dec || avcodec_parameters_to_context(dec.get(), par) < 0) return none;
  dec->thread_count = 1;
  if (avcodec_open2(dec.get(), codec, nullptr) < 0) return none;

  PacketPtr packet = new_packet();
  FramePtr frame = new_frame();
  if (!packet || !frame) return none;
  bool got = false, flushing = false;
  for (int packets = 0; !got && packets < 5000;) {
    if (!flushing) {
      if (av_read_frame(ctx, packet.get()) < 0) {
        flushing = true;
        avcodec_send_packet(dec.get(), nullptr);
      } else {
        ++packets;
        if (packet->stream_index == index) avcodec_send_packet(dec.get(), packet.get());
        av_packet_unref(packet.get());
      }
    }
    int rc = avcodec_receive_frame(dec.get(), frame.get());
    if (rc == 0) got = true;
    else if (rc != AVERROR(EAGAIN) || flushing) break;
  }
  if (!got || frame->width < 1 || frame->height < 1) return none;
  return frame;
}

// PNG bytes of a side x side RGBA picture.
QByteArray encode_png(const std::vector<uint8_t>& rgba, int side) {
  const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_PNG);
  if (!codec) return {};
  CodecPtr enc = new_codec(codec);
  if (!enc) return {};
  enc->width = side;
  enc->height = side;
  enc->pix_fmt = AV_PIX_FMT_RGBA;
  enc->time_base = AVRational{1, 25};
  if (avcodec_open2(enc.get(), codec, nullptr) < 0) return {};
  FramePtr frame = new_frame();
  PacketPtr packet = new_packet();
  if (!frame || !packet) return {};
  frame->width = side;
  frame->height = side;
  frame->format = AV_PIX_FMT_RGBA;
  frame->data[0] = const_cast<uint8_t*>(rgba.data());
  frame->linesize[0] = side * 4;
  if (avcodec_send_frame(enc.get(), frame.get()) < 0 || avcodec_receive_packet(enc.get(), packet.get()) < 0) return {};
  return QByteArray(reinterpret_cast<const char*>(packet->data), packet->size);
}

// The frame scaled to fit a transparent square, centred along the axis
// with room to spare, as PNG.
QByteArray thumbnail_png(const AVFrame* frame, int side) {
  if (!frame || side < 1) return {};
  const double scale = std::min(double(side) / frame->width, double(side) / frame->height);
  const int w = std::clamp(static_cast<int>(frame->width * scale + 0.5), 1, side);
  const int h = std::clamp(static_cast<int>(frame->height * scale + 0.5), 1, side);
  SwsContext* sws = sws_getContext(frame->width, frame->height, static_cast<AVPixelFormat>(frame->format), w, h,
                                   AV_PIX_FMT_RGBA, SWS_BICUBIC, nullptr, nullptr, nullptr);
  if (!sws) return {};
  std::vector<uint8_t> canvas(std::size_t(side) * side * 4, 0);
  const int left = (side - w) / 2, top = (side - h) / 2;
  uint8_t* dst[4] = {canvas.data() + (std::size_t(top) * side + left) * 4, nullptr, nullptr, nullptr};
  int dst_stride[4] = {side * 4, 0, 0, 0};
  sws_scale(sws, frame->data, frame->linesize, 0, frame->height, dst, dst_stride);
  sws_freeContext(sws);
  return encode_png(canvas, side);
}

}  // namespace

MediaInfo decode_media(const QString& path, QByteArray* thumbnail, int side) {
  MediaInfo info;
  FormatPtr ctx = open_input(path, true);
  if (!ctx) return info;
  // The frame is decoded from the same opening: the file is read once.
  if (thumbnail) *thumbnail = thumbnail_png(decode_first_frame(ctx.get()).get(), side);
  info.opened = true;
  info.kind = media_kind_for(path);
  if (ctx->duration != AV_NOPTS_VALUE && ctx->duration > 0)
    info.duration_seconds = static_cast<double>(ctx->duration) / AV_TIME_BASE;
  bool have_size = false;
  for (unsigned i = 0; i < ctx->nb_streams; ++i) {
    const AVStream* s = ctx->streams[i];
    QString type;
    switch (s->codecpar->codec_type) {
      case AVMEDIA_TYPE_VIDEO: type = "Video"; break;
      case AVMEDIA_TYPE_AUDIO: type = "Sound"; break;
      case AVMEDIA_TYPE_SUBTITLE: type = "Text"; break;
      default: break;
    }
    if (!type.isEmpty() && !info.media_types.contains(type)) info.media_types << type;
    const QString codec = codec_display_name(s->codecpar->codec_id);
    if (!codec.isEmpty() && !info.codecs.contains(codec)) info.codecs << codec;
    if (!is_picture_stream(s)) continue;
    info.has_video = true;
    AVRational rate = s->avg_frame_rate.num > 0 ? s->avg_frame_rate : s->r_frame_rate;
    info.last_video_fps = rate.den > 0 ? av_q2d(rate) : 0;
    if (!have_size) {
      info.pixel_width = s->codecpar->width;
      info.pixel_height = s->codecpar->height;
      if (s->codecpar->bit_rate > 0) info.video_bit_rate = s->codecpar->bit_rate;
      have_size = true;
    }
  }
  return info;
}

QByteArray decode_thumbnail(const QString& path, int side) {
  FormatPtr ctx = open_input(path, true);
  return ctx ? thumbnail_png(decode_first_frame(ctx.get()).get(), side) : QByteArray();
}

}  // namespace tavri
