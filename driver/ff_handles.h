// Owning handles for the FFmpeg objects a movie decode holds, each released with its own free call,
// so that every early return and throw while opening or re-opening leaves nothing behind.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
#include <libavutil/error.h>
#include <libavutil/frame.h>
}

#include <memory>
#include <string>

namespace ko::driver {

struct FormatCloser {
  void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};
struct CodecFreer {
  void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct PacketFreer {
  void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct FrameFreer {
  void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};

using FormatHandle = std::unique_ptr<AVFormatContext, FormatCloser>;
using CodecHandle = std::unique_ptr<AVCodecContext, CodecFreer>;
using PacketHandle = std::unique_ptr<AVPacket, PacketFreer>;
using FrameHandle = std::unique_ptr<AVFrame, FrameFreer>;

// An option dictionary for one call; whatever the call leaves in it is freed with the owner.
class OptionDictionary {
 public:
  OptionDictionary() = default;
  ~OptionDictionary() { av_dict_free(&dictionary_); }
  OptionDictionary(const OptionDictionary&) = delete;
  OptionDictionary& operator=(const OptionDictionary&) = delete;

  AVDictionary** address() { return &dictionary_; }

 private:
  AVDictionary* dictionary_ = nullptr;
};

// FFmpeg's text for an error number.
inline std::string avErrorText(int error) {
  char text[64];
  av_strerror(error, text, sizeof text);
  return text;
}

}  // namespace ko::driver
