// Movie members decoded in place with FFmpeg, one frame per next(): nothing of the movie is expanded
// on disk or decoded ahead of the consumer.
#include <algorithm>
#include <atomic>
#include <stdexcept>
#include <utility>
#include <vector>

#include "driver/decoder_build.h"
#include "driver/ff_convert.h"
#include "driver/ff_decoding.h"
#include "driver/source.h"

namespace ko::driver {
namespace {

std::string sourceName(SourceKind kind, const AVCodecContext& decoder) {
  const std::string prefix = kind == SourceKind::Prior ? "hevc444/libavcodec " : "mp4/libavcodec ";
  return prefix + kBuiltAvcodecVersion + " " + decoder.codec->name;
}

class FfSource final : public Source {
 public:
  FfSource(SourceKind kind, std::string path, MemberShape shape)
      : kind_(kind),
        path_(std::move(path)),
        shape_(shape),
        lut_(kind == SourceKind::Prior ? unitHalfTable() : UnitHalfTable{}),
        decoding_(openDecoding(path_, kind_, shape_)),
        name_(sourceName(kind_, *decoding_.dec)) {
    decoderThreads_.store(decoding_.dec->thread_count, std::memory_order_relaxed);
  }

  int32_t NT() const override { return shape_.NT; }
  int32_t W() const override { return shape_.W; }
  int32_t H() const override { return shape_.H; }
  size_t frameBytes() const override { return pixels() * (kind_ == SourceKind::Prior ? 6 : 3); }
  std::string name() const override { return name_; }

  // Frames the decoder may hold at once (its threads plus its reference frames) and the largest packet.
  size_t residentBytes() const override {
    const size_t rawFrame = kind_ == SourceKind::Prior ? pixels() * 3 : pixels() * 3 / 2;
    const int32_t threads = decoderThreads_.load(std::memory_order_relaxed);
    return rawFrame * static_cast<size_t>(std::max(1, threads) + 5) +
           static_cast<size_t>(maxPacket_.load(std::memory_order_relaxed));
  }

  bool next(uint8_t* dst) override {
    if (pos_ >= shape_.NT) return false;
    for (;;) {
      const int received = avcodec_receive_frame(decoding_.dec.get(), decoding_.frame.get());
      if (received == 0) return deliver(dst);
      if (received == AVERROR_EOF) return false;
      if (received != AVERROR(EAGAIN)) {
        throw std::runtime_error("ko_driver: " + path_ + " decode fault at frame " + std::to_string(pos_) +
                                 " (" + avErrorText(received) + ")");
      }
      if (draining_) return false;
      feedDecoder();
    }
  }

  void rewind() override {
    if (av_seek_frame(decoding_.fmt.get(), decoding_.stream, 0, AVSEEK_FLAG_BACKWARD) >= 0) {
      avcodec_flush_buffers(decoding_.dec.get());
      av_packet_unref(decoding_.pkt.get());
    } else {
      reopen();
    }
    draining_ = false;
    packetPending_ = false;
    pos_ = 0;
  }

  void seek(int32_t frame) override {
    if (frame < 0 || frame >= shape_.NT) throw std::runtime_error("ko_driver: seek outside the member");
    if (frame < pos_) rewind();
    if (frame == pos_) return;
    std::vector<uint8_t> scratch(frameBytes());
    while (pos_ < frame) {
      if (!next(scratch.data())) {
        throw std::runtime_error("ko_driver: " + path_ + " ended at frame " + std::to_string(pos_) +
                                 " while seeking to " + std::to_string(frame));
      }
    }
  }

 private:
  size_t pixels() const { return static_cast<size_t>(shape_.W) * static_cast<size_t>(shape_.H); }

  // Gives the decoder the next packet of the video stream, or tells it to drain at end of file.
  void feedDecoder() {
    if (packetPending_ || readVideoPacket()) sendPacket();
  }

  // False when there is nothing to send: end of file (the drain is requested) or another stream.
  bool readVideoPacket() {
    AVPacket* packet = decoding_.pkt.get();
    const int read = av_read_frame(decoding_.fmt.get(), packet);
    if (read == AVERROR_EOF) {
      draining_ = true;
      avcodec_send_packet(decoding_.dec.get(), nullptr);
      return false;
    }
    if (read < 0) throw std::runtime_error("ko_driver: " + path_ + " read fault (" + avErrorText(read) + ")");
    if (packet->stream_index != decoding_.stream) {
      av_packet_unref(packet);
      return false;
    }
    if (packet->size > maxPacket_.load(std::memory_order_relaxed)) {
      maxPacket_.store(packet->size, std::memory_order_relaxed);
    }
    return true;
  }

  void sendPacket() {
    AVPacket* packet = decoding_.pkt.get();
    const int sent = avcodec_send_packet(decoding_.dec.get(), packet);
    // A decoder that wants its output taken first gets the same packet again after the next
    // receive; dropping it would lose a frame. Refusing it a second time is a fault.
    if (sent == AVERROR(EAGAIN) && !packetPending_) {
      packetPending_ = true;
      return;
    }
    packetPending_ = false;
    av_packet_unref(packet);
    if (sent < 0)
      throw std::runtime_error("ko_driver: " + path_ + " packet refused (" + avErrorText(sent) + ")");
  }

  bool deliver(uint8_t* dst) {
    const AVFrame& frame = *decoding_.frame;
    if (frame.width != shape_.W || frame.height != shape_.H) {
      throw std::runtime_error("ko_driver: " + path_ + " changed size mid-stream — refusing");
    }
    if (kind_ == SourceKind::Prior) {
      writePriorFrame(frame, path_, lut_, dst);
    } else {
      writeDriverFrame(frame, path_, dst);
    }
    av_frame_unref(decoding_.frame.get());
    ++pos_;
    return true;
  }

  // Opens the member afresh where the demuxer cannot seek back. The old contexts stay until the new
  // ones are complete, so a failed re-open leaves the source exactly as it was.
  void reopen() {
    Decoding retired = std::exchange(decoding_, openDecoding(path_, kind_, shape_));
    decoderThreads_.store(decoding_.dec->thread_count, std::memory_order_relaxed);
  }

  const SourceKind kind_;
  const std::string path_;
  const MemberShape shape_;
  const UnitHalfTable lut_;  // prior kind only
  Decoding decoding_;
  // Fixed at the first open: other threads may read it while the look-ahead thread re-opens.
  const std::string name_;
  bool draining_ = false;       // end of file reached, the decoder told to drain
  bool packetPending_ = false;  // pkt holds a packet the decoder has not accepted yet
  int32_t pos_ = 0;             // index of the next frame
  // Read by residentBytes() from other threads.
  std::atomic<int32_t> maxPacket_{0};
  std::atomic<int32_t> decoderThreads_{0};
};

}  // namespace

std::unique_ptr<Source> openMp4(const std::string& path, int32_t NT, int32_t W, int32_t H) {
  return std::make_unique<FfSource>(SourceKind::Driver, path, MemberShape{NT, W, H});
}

std::unique_ptr<Source> openPriorHevc(const std::string& path, int32_t NT, int32_t crop) {
  return std::make_unique<FfSource>(SourceKind::Prior, path, MemberShape{NT, crop, crop});
}

}  // namespace ko::driver
