// An opened movie member: its demuxer, the decoder of its video stream and the packet and frame the
// two exchange. Opening checks the member against the manifest (size, declared frame count) before
// any frame is decoded.
#pragma once

#include <cstdint>
#include <string>

#include "driver/ff_handles.h"

namespace ko::driver {

enum class SourceKind : int32_t {
  Driver = 0,  // the driver video: 4:2:0 frames delivered as packed RGB
  Prior = 1,   // the warp prior: yuv444p frames delivered as half-float RGB planes
};

// Declared in release order: the frame, the packet, the decoder, then the demuxer.
struct Decoding {
  FormatHandle fmt;
  CodecHandle dec;
  PacketHandle pkt;
  FrameHandle frame;
  int32_t stream = -1;
};

// The member the manifest describes: NT frames of W x H.
struct MemberShape {
  int32_t NT = 0;
  int32_t W = 0;
  int32_t H = 0;
};

Decoding openDecoding(const std::string& path, SourceKind kind, const MemberShape& shape);

}  // namespace ko::driver
