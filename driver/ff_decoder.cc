#include "driver/ff_decoder.h"
#include "pool/pool.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace ko::driver {
namespace {

constexpr const char* kHardwareDecoder = "h264_cuvid";
constexpr int kSoftwareThreads = 4;

bool hardwareDecodingSwitchedOff() {
  return envEquals("KO_DRIVER_HWDEC", "0");
}

CodecHandle contextFor(const AVCodec& codec, const AVStream& stream) {
  CodecHandle context(avcodec_alloc_context3(&codec));
  if (!context) throw std::runtime_error("ko_driver: avcodec_alloc_context3 failed");
  if (avcodec_parameters_to_context(context.get(), stream.codecpar) < 0) {
    throw std::runtime_error("ko_driver: avcodec_parameters_to_context failed");
  }
  return context;
}

bool opened(AVCodecContext& context, const AVCodec& codec) {
  OptionDictionary options;
  return avcodec_open2(&context, &codec, options.address()) >= 0;
}

// Empty when the machine has no such decoder or it refuses the stream (the caller falls back).
CodecHandle openHardwareDecoder(const AVStream& stream, const std::string& path) {
  const AVCodec* codec = avcodec_find_decoder_by_name(kHardwareDecoder);
  if (!codec) return {};
  CodecHandle context = contextFor(*codec, stream);
  context->thread_count = 1;
  if (opened(*context, *codec)) return context;
  context.reset();
  std::fprintf(stderr,
               "[ko-driver] %s refused %s — falling back to the software h264 decoder (same samples, "
               "more CPU)\n",
               kHardwareDecoder, path.c_str());
  return {};
}

CodecHandle openSoftwareDecoder(const AVStream& stream, const std::string& path) {
  const AVCodecID id = stream.codecpar->codec_id;
  const AVCodec* codec = avcodec_find_decoder(id);
  if (!codec) {
    throw std::runtime_error("ko_driver: no decoder for " + path + " (codec id " +
                             std::to_string(static_cast<int>(id)) + ")");
  }
  CodecHandle context = contextFor(*codec, stream);
  context->thread_count = kSoftwareThreads;
  context->thread_type = FF_THREAD_FRAME;
  if (!opened(*context, *codec))
    throw std::runtime_error("ko_driver: could not open the decoder for " + path);
  return context;
}

}  // namespace

CodecHandle openDecoder(const AVStream& stream, const std::string& path, SourceKind kind) {
  if (hardwareDecodingSwitchedOff()) {
    std::fprintf(stderr,
                 "[ko-driver] KO_DRIVER_HWDEC=0 — %s not attempted; the software decoder is the one "
                 "decoder on this fleet (same samples)\n",
                 kHardwareDecoder);
  } else if (kind == SourceKind::Driver && stream.codecpar->codec_id == AV_CODEC_ID_H264) {
    if (CodecHandle hardware = openHardwareDecoder(stream, path)) return hardware;
  }
  return openSoftwareDecoder(stream, path);
}

}  // namespace ko::driver
