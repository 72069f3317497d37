#include "tests/support/movie_writer.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
#include <libavutil/frame.h>
}

#include <cstring>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <utility>

#include "bundle/file_io.h"
#include "driver/ff_handles.h"
#include "tests/support/temp_dir.h"

namespace ko::test {
namespace {

using driver::CodecHandle;
using driver::FrameHandle;
using driver::OptionDictionary;
using driver::PacketHandle;

std::runtime_error failure(const std::string& path, const std::string& what, int error) {
  return std::runtime_error("writeMovie " + path + ": " + what + " (" + driver::avErrorText(error) + ")");
}

// The muxer context and, once opened, its file.
struct MuxerCloser {
  void operator()(AVFormatContext* context) const {
    if (!(context->oformat->flags & AVFMT_NOFILE)) avio_closep(&context->pb);
    avformat_free_context(context);
  }
};
using MuxerHandle = std::unique_ptr<AVFormatContext, MuxerCloser>;

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
void encoderOptions(const MovieRecipe& recipe, AVDictionary** options) {
  const std::string& codec = recipe.codec;
  if (codec == "libx264") {
    av_dict_set(options, "preset", "ultrafast", 0);
    av_dict_set(options, "qp", std::to_string(recipe.quantizer).c_str(), 0);
  } else if (codec == "libx265") {
    av_dict_set(options, "preset", "ultrafast", 0);
    av_dict_set(options, "x265-params", "lossless=1:log-level=error:pools=none:frame-threads=1", 0);
  }
}

CodecHandle openEncoder(const std::string& path, const MovieRecipe& recipe, const AVFormatContext& muxer) {
  const AVCodec* codec = avcodec_find_encoder_by_name(recipe.codec.c_str());
  if (!codec) throw failure(path, "no encoder " + recipe.codec, AVERROR_ENCODER_NOT_FOUND);
  CodecHandle encoder(avcodec_alloc_context3(codec));
  if (!encoder) throw failure(path, "cannot allocate the encoder", AVERROR(ENOMEM));
  encoder->width = recipe.width;
  encoder->height = recipe.height;
  encoder->pix_fmt = recipe.chroma == Chroma::Yuv444p ? AV_PIX_FMT_YUV444P : AV_PIX_FMT_YUV420P;
  encoder->time_base = AVRational{1, recipe.fps};
  encoder->framerate = AVRational{recipe.fps, 1};
  encoder->thread_count = 1;
  if (muxer.oformat->flags & AVFMT_GLOBALHEADER) encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  OptionDictionary options;
  encoderOptions(recipe, options.address());
  const int opened = avcodec_open2(encoder.get(), codec, options.address());
  if (opened < 0) throw failure(path, "cannot open " + recipe.codec, opened);
  return encoder;
}

FrameHandle frameOf(const YuvPicture& picture, const AVCodecContext& encoder, int index) {
  if (picture.width != encoder.width || picture.height != encoder.height) {
    throw std::runtime_error("writeMovie: picture " + std::to_string(index) + " is not the movie's size");
  }
  FrameHandle frame(av_frame_alloc());
  if (!frame) throw std::runtime_error("writeMovie: out of memory");
  frame->format = encoder.pix_fmt;
  frame->width = encoder.width;
  frame->height = encoder.height;
  if (av_frame_get_buffer(frame.get(), 0) < 0) throw std::runtime_error("writeMovie: out of memory");
  const std::vector<uint8_t>* planes[3] = {&picture.y, &picture.u, &picture.v};
  const int widths[3] = {picture.width, picture.chromaWidth(), picture.chromaWidth()};
  const int heights[3] = {picture.height, picture.chromaHeight(), picture.chromaHeight()};
  for (int p = 0; p < 3; ++p) {
    for (int row = 0; row < heights[p]; ++row) {
      std::memcpy(frame->data[p] + row * frame->linesize[p], planes[p]->data() + row * widths[p],
                  static_cast<size_t>(widths[p]));
    }
  }
  frame->pts = index;
  return frame;
}

class MovieEncoder {
 public:
  MovieEncoder(std::string path, const MovieRecipe& recipe)
      : path_(std::move(path)),
        muxer_(openMuxer(path_)),
        encoder_(openEncoder(path_, recipe, *muxer_)),
        packet_(av_packet_alloc()) {
    if (!packet_) throw std::runtime_error("writeMovie: out of memory");
    stream_ = avformat_new_stream(muxer_.get(), nullptr);
    if (!stream_) throw std::runtime_error("writeMovie: cannot add a stream");
    stream_->time_base = encoder_->time_base;
    const int copied = avcodec_parameters_from_context(stream_->codecpar, encoder_.get());
    if (copied < 0) throw failure(path_, "cannot describe the stream", copied);
    OptionDictionary options;
    if (recipe.indexFirst) av_dict_set(options.address(), "movflags", "+faststart", 0);
    const int header = avformat_write_header(muxer_.get(), options.address());
    if (header < 0) throw failure(path_, "cannot write the header", header);
  }

  void encode(const AVFrame* frame) {
    const int sent = avcodec_send_frame(encoder_.get(), frame);
    if (sent < 0) throw failure(path_, "encoder refused a frame", sent);
    for (;;) {
      const int received = avcodec_receive_packet(encoder_.get(), packet_.get());
      if (received == AVERROR(EAGAIN) || received == AVERROR_EOF) return;
      if (received < 0) throw failure(path_, "encoder failed", received);
      // Without a duration the mp4 muxer ends its edit list at the last frame's start, hiding it.
      packet_->duration = 1;
      av_packet_rescale_ts(packet_.get(), encoder_->time_base, stream_->time_base);
      packet_->stream_index = stream_->index;
      const int written = av_interleaved_write_frame(muxer_.get(), packet_.get());
      if (written < 0) throw failure(path_, "cannot write a packet", written);
    }
  }

  void finish() {
    encode(nullptr);
    const int trailer = av_write_trailer(muxer_.get());
    if (trailer < 0) throw failure(path_, "cannot write the trailer", trailer);
  }

  const AVCodecContext& encoder() const { return *encoder_; }

 private:
  std::string path_;
  MuxerHandle muxer_;
  CodecHandle encoder_;
  PacketHandle packet_;
  AVStream* stream_ = nullptr;  // owned by the muxer
};

void appendLittleEndian(std::string& bytes, uint32_t value, int size) {
  for (int i = 0; i < size; ++i) bytes.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

}  // namespace

void writeMovie(const std::string& path, const MovieRecipe& recipe, const PictureSource& picture) {
  MovieEncoder movie(path, recipe);
  for (int i = 0; i < recipe.frames; ++i) movie.encode(frameOf(picture(i), movie.encoder(), i).get());
  movie.finish();
}

void writeMovie(const std::string& path, const MovieRecipe& recipe) {
  writeMovie(path, recipe, [&recipe](int index) { return moviePicture(recipe, index); });
}

std::string movieBytes(const MovieRecipe& recipe, const std::string& extension) {
  const TempDir dir;
  const std::string path = dir / ("movie" + extension);
  writeMovie(path, recipe);
  return readFile(path);
}

YuvPicture moviePicture(const MovieRecipe& recipe, int index) {
  return patternPicture(recipe.width, recipe.height, recipe.chroma, index);
}

void truncateFile(const std::string& path, uintmax_t bytes) {
  std::filesystem::resize_file(path, bytes);
}

void writeSilentWav(const std::string& path, int samples) {
  const uint32_t dataBytes = static_cast<uint32_t>(samples) * 2;
  std::string bytes = "RIFF";
  appendLittleEndian(bytes, 36 + dataBytes, 4);
  bytes += "WAVEfmt ";
  appendLittleEndian(bytes, 16, 4);     // format chunk size
  appendLittleEndian(bytes, 1, 2);      // PCM
  appendLittleEndian(bytes, 1, 2);      // mono
  appendLittleEndian(bytes, 16000, 4);  // sample rate
  appendLittleEndian(bytes, 32000, 4);  // byte rate
  appendLittleEndian(bytes, 2, 2);      // block align
  appendLittleEndian(bytes, 16, 2);     // bits per sample
  bytes += "data";
  appendLittleEndian(bytes, dataBytes, 4);
  bytes.append(dataBytes, '\0');
  writeBytes(path, bytes);
}

}  // namespace ko::test
