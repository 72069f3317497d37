#include "tools/media/movie_encoder.h"

extern "C" {
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include <cstring>
#include <stdexcept>

#include "driver/ff_handles.h"
#include "tools/media/audio_framer.h"
#include "tools/media/media_failure.h"

namespace ko::tools {
namespace {

using driver::CodecHandle;
using driver::FrameHandle;
using driver::OptionDictionary;
using driver::PacketHandle;

// Plenty for speech in one channel; the encoder's default spends twice that.
constexpr int64_t kAudioBitRate = 64000;

std::runtime_error failure(const std::string& path, const std::string& what, int error) {
  return mediaFailure("writing", path, what, error);
}

// The muxer context and, once opened, its file.
struct MuxerCloser {
  void operator()(AVFormatContext* context) const {
    if (!(context->oformat->flags & AVFMT_NOFILE)) avio_closep(&context->pb);
    avformat_free_context(context);
  }
};
using MuxerHandle = std::unique_ptr<AVFormatContext, MuxerCloser>;

struct ScalerFreer {
  void operator()(SwsContext* context) const { sws_freeContext(context); }
};
using ScalerHandle = std::unique_ptr<SwsContext, ScalerFreer>;

MuxerHandle openMuxer(const std::string& path) {
  AVFormatContext* context = nullptr;
  const int made = avformat_alloc_output_context2(&context, nullptr, nullptr, path.c_str());
  if (made < 0) throw failure(path, "no muxer for this extension", made);
  MuxerHandle muxer(context);
  if (!(context->oformat->flags & AVFMT_NOFILE)) {
    const int opened = avio_open(&context->pb, path.c_str(), AVIO_FLAG_WRITE);
    if (opened < 0) throw failure(path, "cannot create the file", opened);
  }
  return muxer;
}

// Settings that make the two x26x encoders fast and quiet, and lossless unless a quantizer is asked for.
void encoderOptions(const MovieSettings& settings, AVDictionary** options) {
  if (settings.codec == "libx264" || settings.codec == "libx264rgb") {
    av_dict_set(options, "preset", "ultrafast", 0);
    av_dict_set(options, "qp", std::to_string(settings.quantizer).c_str(), 0);
  } else if (settings.codec == "libx265") {
    av_dict_set(options, "preset", "ultrafast", 0);
    av_dict_set(options, "x265-params", "lossless=1:log-level=error:pools=none:frame-threads=1", 0);
  }
}

CodecHandle openEncoder(const std::string& path, const MovieSettings& settings,
                        const AVFormatContext& muxer) {
  const AVCodec* codec = avcodec_find_encoder_by_name(settings.codec.c_str());
  if (!codec) throw failure(path, "no encoder " + settings.codec, AVERROR_ENCODER_NOT_FOUND);
  CodecHandle encoder(avcodec_alloc_context3(codec));
  if (!encoder) throw failure(path, "cannot allocate the encoder", AVERROR(ENOMEM));
  encoder->width = settings.width;
  encoder->height = settings.height;
  encoder->pix_fmt = settings.fullChroma ? AV_PIX_FMT_YUV444P : AV_PIX_FMT_YUV420P;
  if (!settings.pixFmt.empty()) {
    encoder->pix_fmt = av_get_pix_fmt(settings.pixFmt.c_str());
    if (encoder->pix_fmt == AV_PIX_FMT_NONE)
      throw failure(path, "no pixel format " + settings.pixFmt, AVERROR(EINVAL));
  }
  encoder->time_base = AVRational{1, settings.fps};
  encoder->framerate = AVRational{settings.fps, 1};
  encoder->thread_count = 1;
  if (muxer.oformat->flags & AVFMT_GLOBALHEADER) encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  OptionDictionary options;
  encoderOptions(settings, options.address());
  const int opened = avcodec_open2(encoder.get(), codec, options.address());
  if (opened < 0) throw failure(path, "cannot open " + settings.codec, opened);
  return encoder;
}

CodecHandle openAudioEncoder(const std::string& path, int rate, const AVFormatContext& muxer) {
  const AVCodec* codec = avcodec_find_encoder_by_name("aac");
  if (!codec) throw failure(path, "no encoder aac", AVERROR_ENCODER_NOT_FOUND);
  CodecHandle encoder(avcodec_alloc_context3(codec));
  if (!encoder) throw failure(path, "cannot allocate the audio encoder", AVERROR(ENOMEM));
  encoder->sample_fmt = codec->sample_fmts ? codec->sample_fmts[0] : AV_SAMPLE_FMT_FLTP;
  encoder->sample_rate = rate;
  av_channel_layout_default(&encoder->ch_layout, 1);
  encoder->bit_rate = kAudioBitRate;
  encoder->time_base = AVRational{1, rate};
  if (muxer.oformat->flags & AVFMT_GLOBALHEADER) encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  const int opened = avcodec_open2(encoder.get(), codec, nullptr);
  if (opened < 0) throw failure(path, "cannot open aac at " + std::to_string(rate) + " Hz", opened);
  return encoder;
}

FrameHandle pictureFrame(const AVCodecContext& encoder) {
  FrameHandle frame(av_frame_alloc());
  if (!frame) throw std::runtime_error("movie encoder: out of memory");
  frame->format = encoder.pix_fmt;
  frame->width = encoder.width;
  frame->height = encoder.height;
  if (av_frame_get_buffer(frame.get(), 0) < 0) throw std::runtime_error("movie encoder: out of memory");
  return frame;
}

}  // namespace

// The speech track: its encoder, its stream and the framer that feeds the one from the other.
struct AudioTrack {
  AudioTrack(const std::string& path, int rate, const AVFormatContext& muxer)
      : encoder(openAudioEncoder(path, rate, muxer)), framer(path, *encoder) {}

  CodecHandle encoder;
  AudioFramer framer;
  AVStream* stream = nullptr;  // owned by the muxer
};

struct MovieEncoder::State {
  State(const std::string& moviePath, const MovieSettings& movie)
      : path(moviePath),
        settings(movie),
        muxer(openMuxer(path)),
        encoder(openEncoder(path, settings, *muxer)),
        packet(av_packet_alloc()),
        picture(pictureFrame(*encoder)) {
    if (!packet) throw std::runtime_error("movie encoder: out of memory");
    stream = addStream(*encoder);
    if (settings.audioRate != 0) {
      audio = std::make_unique<AudioTrack>(path, settings.audioRate, *muxer);
      audio->stream = addStream(*audio->encoder);
    }
    OptionDictionary options;
    if (settings.indexFirst) av_dict_set(options.address(), "movflags", "+faststart", 0);
    const int header = avformat_write_header(muxer.get(), options.address());
    if (header < 0) throw failure(path, "cannot write the header", header);
  }

  AVStream* addStream(const AVCodecContext& source) {
    AVStream* added = avformat_new_stream(muxer.get(), nullptr);
    if (!added) throw std::runtime_error("movie encoder: cannot add a stream to " + path);
    added->time_base = source.time_base;
    const int copied = avcodec_parameters_from_context(added->codecpar, &source);
    if (copied < 0) throw failure(path, "cannot describe the stream", copied);
    return added;
  }

  void encode(const AVFrame* frame) { encode(*encoder, *stream, frame); }

  // The packets of both streams meet in the muxer's interleaving queue, each stamped in its own
  // stream's time base, which keeps sound and picture in step however unevenly they are pushed.
  void encode(AVCodecContext& source, const AVStream& target, const AVFrame* frame) {
    const int sent = avcodec_send_frame(&source, frame);
    if (sent < 0) throw failure(path, "encoder refused a frame", sent);
    for (;;) {
      const int received = avcodec_receive_packet(&source, packet.get());
      if (received == AVERROR(EAGAIN) || received == AVERROR_EOF) return;
      if (received < 0) throw failure(path, "encoder failed", received);
      // Without a duration the mp4 muxer ends its edit list at the last frame's start, hiding it.
      // The audio encoder stamps its own, which the last, shorter frame needs.
      if (&target == stream) packet->duration = 1;
      av_packet_rescale_ts(packet.get(), source.time_base, target.time_base);
      packet->stream_index = target.index;
      const int written = av_interleaved_write_frame(muxer.get(), packet.get());
      if (written < 0) throw failure(path, "cannot write a packet", written);
    }
  }

  AudioFramer::FrameSink audioSink() {
    return [this](const AVFrame& frame) { encode(*audio->encoder, *audio->stream, &frame); };
  }

  // The encoder may still hold the previous frame's buffer: write into a fresh one when it does.
  void prepareFrame() {
    const int writable = av_frame_make_writable(picture.get());
    if (writable < 0) throw failure(path, "cannot get a frame buffer", writable);
    picture->pts = frames;
  }

  std::string path;
  MovieSettings settings;
  MuxerHandle muxer;
  CodecHandle encoder;
  PacketHandle packet;
  FrameHandle picture;
  ScalerHandle scaler;
  AVStream* stream = nullptr;  // owned by the muxer
  std::unique_ptr<AudioTrack> audio;
  int frames = 0;
  bool finished = false;
};

MovieEncoder::MovieEncoder(const std::string& path, const MovieSettings& settings)
    : state_(std::make_unique<State>(path, settings)) {}

MovieEncoder::~MovieEncoder() = default;

void MovieEncoder::encodePlanes(const uint8_t* const planes[3]) {
  State& s = *state_;
  s.prepareFrame();
  const int chromaShift = s.settings.fullChroma ? 0 : 1;
  for (int p = 0; p < 3; ++p) {
    const int shift = p == 0 ? 0 : chromaShift;
    const int width = (s.settings.width + shift) >> shift, height = (s.settings.height + shift) >> shift;
    for (int row = 0; row < height; ++row) {
      std::memcpy(s.picture->data[p] + row * s.picture->linesize[p], planes[p] + row * width,
                  static_cast<size_t>(width));
    }
  }
  s.encode(s.picture.get());
  ++s.frames;
}

void MovieEncoder::encodeRgb(const uint8_t* rgb) {
  State& s = *state_;
  if (!s.scaler) {
    s.scaler.reset(sws_getContext(s.settings.width, s.settings.height, AV_PIX_FMT_RGB24, s.settings.width,
                                  s.settings.height, s.encoder->pix_fmt, SWS_BILINEAR, nullptr, nullptr,
                                  nullptr));
    if (!s.scaler) throw std::runtime_error("movie encoder: no RGB conversion for " + s.path);
  }
  s.prepareFrame();
  const uint8_t* source[1] = {rgb};
  const int stride[1] = {3 * s.settings.width};
  sws_scale(s.scaler.get(), source, stride, 0, s.settings.height, s.picture->data, s.picture->linesize);
  s.encode(s.picture.get());
  ++s.frames;
}

void MovieEncoder::encodeAudio(const int16_t* samples, size_t count) {
  State& s = *state_;
  if (!s.audio) throw std::runtime_error("writing " + s.path + ": no audio track");
  if (s.finished) throw std::runtime_error("writing " + s.path + ": the movie is already finished");
  s.audio->framer.append(samples, count, s.audioSink());
}

void MovieEncoder::finish() {
  State& s = *state_;
  if (s.finished) return;
  s.encode(nullptr);
  if (s.audio) {
    s.audio->framer.finish(s.audioSink());
    s.encode(*s.audio->encoder, *s.audio->stream, nullptr);
  }
  const int trailer = av_write_trailer(s.muxer.get());
  if (trailer < 0) throw failure(s.path, "cannot write the trailer", trailer);
  s.finished = true;
}

int MovieEncoder::frames() const {
  return state_->frames;
}

}  // namespace ko::tools
