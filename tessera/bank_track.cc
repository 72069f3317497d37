#include "tessera/bank_track.h"

extern "C" {
#include <libswscale/swscale.h>
}

#include <cstring>
#include <memory>
#include <stdexcept>

#include "driver/driver.h"

namespace ko::tessera {
namespace {

using driver::CodecHandle;
using driver::FormatHandle;
using driver::FrameHandle;
using driver::PacketHandle;

constexpr int kIoBufferBytes = 65536;
const char* const kRefusing = " \xe2\x80\x94 refusing to serve";

[[noreturn]] void refuse(const std::string& text) {
  throw std::runtime_error(text);
}

// The I/O context with the buffer it owns (which FFmpeg may have replaced by then).
struct IoFreer {
  void operator()(AVIOContext* io) const {
    av_freep(&io->buffer);
    avio_context_free(&io);
  }
};
using IoHandle = std::unique_ptr<AVIOContext, IoFreer>;

struct ScalerFreer {
  void operator()(SwsContext* scaler) const { sws_freeContext(scaler); }
};

IoHandle openInput(MemoryInput& input) {
  auto* buffer = static_cast<unsigned char*>(av_malloc(kIoBufferBytes));
  if (!buffer) refuse("reference bank decode: out of memory");
  AVIOContext* io = avio_alloc_context(buffer, kIoBufferBytes, 0, &input, memRead, nullptr, memSeek);
  if (!io) {
    av_free(buffer);
    refuse("reference bank decode: avio_alloc_context failed");
  }
  return IoHandle(io);
}

// The container opened over io; the format context never owns io, which outlives it.
FormatHandle openContainer(AVIOContext* io) {
  AVFormatContext* format = avformat_alloc_context();
  if (!format) refuse("reference bank decode: avformat_alloc_context failed");
  format->pb = io;
  if (avformat_open_input(&format, nullptr, nullptr, nullptr) < 0) {
    refuse(std::string("reference bank track is not a readable container") + kRefusing);  // format is freed
  }
  FormatHandle opened(format);
  if (avformat_find_stream_info(format, nullptr) < 0) {
    refuse(std::string("reference bank track carries no stream info") + kRefusing);
  }
  return opened;
}

const AVStream& videoStream(const AVFormatContext& format, int32_t bandH, int32_t bandW) {
  for (unsigned k = 0; k < format.nb_streams; ++k) {
    const AVStream& stream = *format.streams[k];
    if (stream.codecpar->codec_type != AVMEDIA_TYPE_VIDEO) continue;
    const AVCodecParameters& p = *stream.codecpar;
    if (p.width != bandW || p.height != bandH) {
      refuse("reference bank track is " + std::to_string(p.width) + "x" + std::to_string(p.height) +
             ", the geometry stamp says " + std::to_string(bandW) + "x" + std::to_string(bandH) +
             " \xe2\x80\x94 geometry mismatch, refusing to serve");
    }
    return stream;
  }
  refuse(std::string("reference bank track has no video stream") + kRefusing);
}

CodecHandle openDecoder(const AVStream& stream) {
  const AVCodec* codec = avcodec_find_decoder(stream.codecpar->codec_id);
  if (!codec) {
    refuse(
        "no decoder for the reference bank track \xe2\x80\x94 this build must carry the h264 decoder (see "
        "build_ffmpeg_android); refusing to serve");
  }
  CodecHandle decoder(avcodec_alloc_context3(codec));
  if (!decoder) refuse("reference bank decode: avcodec_alloc_context3 failed");
  if (avcodec_parameters_to_context(decoder.get(), stream.codecpar) < 0) {
    refuse("reference bank decode: avcodec_parameters_to_context failed");
  }
  if (avcodec_open2(decoder.get(), codec, nullptr) < 0) {
    refuse(std::string("reference bank decode: could not open the decoder") + kRefusing);
  }
  return decoder;
}

void requirePermutation(const std::vector<int32_t>& order, int32_t n) {
  std::vector<bool> seen(static_cast<size_t>(n), false);
  for (int32_t slot : order) {
    if (slot < 0 || slot >= n) refuse(std::string("reference bank track_order is out of range") + kRefusing);
    if (seen[static_cast<size_t>(slot)])
      refuse(std::string("reference bank track_order is not a permutation") + kRefusing);
    seen[static_cast<size_t>(slot)] = true;
  }
}

// Stores decoded frames, in decode order, into their donor slots.
class DonorWriter {
 public:
  DonorWriter(int32_t n, int32_t bandH, int32_t bandW, const std::vector<int32_t>& order)
      : n_(n), h_(bandH), w_(bandW), order_(order), bands_(static_cast<size_t>(n) * bandH * bandW * 3, 0) {}

  void store(const AVFrame& frame) {
    if (frame.width != w_ || frame.height != h_) {
      refuse(std::string("reference bank frame changed size mid-track") + kRefusing);
    }
    if (!scaler_) {
      scaler_.reset(sws_getContext(w_, h_, static_cast<AVPixelFormat>(frame.format), w_, h_, AV_PIX_FMT_RGB24,
                                   SWS_BILINEAR, nullptr, nullptr, nullptr));
      if (!scaler_) refuse(std::string("reference bank decode: no rgb24 conversion") + kRefusing);
    }
    if (stored_ == n_) {
      refuse(
          "bank track carries more frames than the sidecar's n_donors \xe2\x80\x94 sidecar/track mismatch, "
          "refusing to "
          "serve");
    }
    uint8_t* slot = bands_.data() + static_cast<size_t>(order_[static_cast<size_t>(stored_)]) * h_ * w_ * 3;
    uint8_t* planes[1] = {slot};
    const int strides[1] = {3 * w_};
    sws_scale(scaler_.get(), frame.data, frame.linesize, 0, h_, planes, strides);
    ++stored_;
  }

  std::vector<uint8_t> finish() {
    if (stored_ < n_) {
      refuse("bank track decoded to " + std::to_string(stored_) + " frames, expected " + std::to_string(n_) +
             " \xe2\x80\x94 geometry/N mismatch, refusing to serve");
    }
    return std::move(bands_);
  }

 private:
  int32_t n_, h_, w_;
  const std::vector<int32_t>& order_;
  std::vector<uint8_t> bands_;
  std::unique_ptr<SwsContext, ScalerFreer> scaler_;
  int32_t stored_ = 0;
};

// Receives every frame the decoder has ready; false once it reports the end.
bool drain(AVCodecContext& decoder, AVFrame& frame, DonorWriter& writer) {
  for (;;) {
    const int received = avcodec_receive_frame(&decoder, &frame);
    if (received == AVERROR(EAGAIN)) return true;
    if (received < 0) return false;  // the end, or a decode error that ends the track
    writer.store(frame);
    av_frame_unref(&frame);
  }
}

}  // namespace

int memRead(void* opaque, uint8_t* buf, int size) {
  auto& input = *static_cast<MemoryInput*>(opaque);
  if (input.position >= input.length) return AVERROR_EOF;
  const size_t count = std::min(static_cast<size_t>(std::max(size, 0)), input.length - input.position);
  std::memcpy(buf, input.data + input.position, count);
  input.position += count;
  return static_cast<int>(count);
}

int64_t memSeek(void* opaque, int64_t offset, int whence) {
  auto& input = *static_cast<MemoryInput*>(opaque);
  const int64_t length = static_cast<int64_t>(input.length);
  if (whence & AVSEEK_SIZE) return length;
  int64_t target = 0;
  switch (whence & ~AVSEEK_FORCE) {
    case SEEK_SET:
      target = offset;
      break;
    case SEEK_CUR:
      target = static_cast<int64_t>(input.position) + offset;
      break;
    case SEEK_END:
      target = length + offset;
      break;
    default:
      return -1;
  }
  if (target < 0 || target > length) return -1;
  input.position = static_cast<size_t>(target);
  return target;
}

std::vector<uint8_t> decodeBankTrack(const uint8_t* data, size_t len, int32_t n_donors, int32_t band_h,
                                     int32_t band_w, const std::vector<int32_t>& track_order) {
  if (!data || len == 0) refuse(std::string("reference bank track is empty") + kRefusing);
  if (band_h < 1 || band_w < 1 || n_donors < 1)
    refuse(std::string("reference bank geometry is not positive") + kRefusing);
  if (track_order.size() != static_cast<size_t>(n_donors)) {
    refuse("reference bank sidecar track_order has " + std::to_string(track_order.size()) +
           " entries, expected " + std::to_string(n_donors) +
           " \xe2\x80\x94 sidecar/track mismatch, refusing to serve");
  }
  MemoryInput input{data, len, 0};
  const IoHandle io = openInput(input);
  const FormatHandle format = openContainer(io.get());
  const AVStream& stream = videoStream(*format, band_h, band_w);
  const CodecHandle decoder = openDecoder(stream);
  const PacketHandle packet(av_packet_alloc());
  const FrameHandle frame(av_frame_alloc());
  if (!packet || !frame) refuse("reference bank decode: out of memory");
  requirePermutation(track_order, n_donors);
  DonorWriter writer(n_donors, band_h, band_w, track_order);
  bool decoding = true;
  while (decoding && av_read_frame(format.get(), packet.get()) >= 0) {
    if (packet->stream_index == stream.index) {
      avcodec_send_packet(decoder.get(), packet.get());
      decoding = drain(*decoder, *frame, writer);
    }
    av_packet_unref(packet.get());
  }
  if (decoding) {
    avcodec_send_packet(decoder.get(), nullptr);
    drain(*decoder, *frame, writer);
  }
  return writer.finish();
}

std::string bankDecoderBuild() {
  return movieDecoderBuild();
}

}  // namespace ko::tessera
