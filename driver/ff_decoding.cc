#include "driver/ff_decoding.h"

#include <stdexcept>

#include "driver/ff_decoder.h"

namespace ko::driver {
namespace {

std::runtime_error refusal(const std::string& path, const std::string& what) {
  return std::runtime_error("ko_driver: " + path + what);
}

FormatHandle openContainer(const std::string& path) {
  AVFormatContext* opened = nullptr;
  // On failure avformat_open_input frees what it allocated and leaves `opened` null.
  if (avformat_open_input(&opened, path.c_str(), nullptr, nullptr) < 0) {
    throw refusal(path, " is not a readable container");
  }
  FormatHandle container(opened);
  if (avformat_find_stream_info(container.get(), nullptr) < 0) throw refusal(path, " carries no stream info");
  return container;
}

int32_t firstVideoStream(const AVFormatContext& container, const std::string& path) {
  for (unsigned i = 0; i < container.nb_streams; ++i) {
    if (container.streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) return static_cast<int32_t>(i);
  }
  throw refusal(path, " has no video stream");
}

void checkAgainstManifest(const AVStream& stream, const std::string& path, const MemberShape& shape) {
  const int width = stream.codecpar->width, height = stream.codecpar->height;
  if (width != shape.W || height != shape.H) {
    throw refusal(path, " is " + std::to_string(width) + "x" + std::to_string(height) +
                            ", the manifest says " + std::to_string(shape.W) + "x" + std::to_string(shape.H) +
                            " — refusing to rescale the driver");
  }
  // A container that does not count its frames (0) is taken on the manifest's word.
  if (stream.nb_frames > 0 && stream.nb_frames != shape.NT) {
    throw refusal(path, " carries " + std::to_string(stream.nb_frames) + " frames, the manifest says NT=" +
                            std::to_string(shape.NT) + " — member/manifest mismatch, refusing");
  }
}

}  // namespace

Decoding openDecoding(const std::string& path, SourceKind kind, const MemberShape& shape) {
  Decoding decoding;
  decoding.fmt = openContainer(path);
  decoding.stream = firstVideoStream(*decoding.fmt, path);
  const AVStream& stream = *decoding.fmt->streams[decoding.stream];
  checkAgainstManifest(stream, path, shape);
  decoding.dec = openDecoder(stream, path, kind);
  decoding.pkt.reset(av_packet_alloc());
  decoding.frame.reset(av_frame_alloc());
  if (!decoding.pkt || !decoding.frame) throw std::runtime_error("ko_driver: out of memory");
  return decoding;
}

}  // namespace ko::driver
