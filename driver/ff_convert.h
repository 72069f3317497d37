// Decoded frames into the buffers a frame source hands out: the driver video as packed RGB rows,
// the warp prior as half-float RGB planes. A frame in any other layout than the one a kind is written
// for is refused rather than reinterpreted.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "driver/ff_handles.h"

namespace ko::driver {

// Entry i is the half float of i / 255.
using UnitHalfTable = std::array<uint16_t, 256>;
UnitHalfTable unitHalfTable();

// frame.width * 3 bytes per row, rows contiguous, from a yuv420p or nv12 frame.
void writeDriverFrame(const AVFrame& frame, const std::string& path, uint8_t* dst);

// The R, G and B planes of frame.width * frame.height halves each, from a yuv444p frame. dst needs
// no particular alignment.
void writePriorFrame(const AVFrame& frame, const std::string& path, const UnitHalfTable& lut, uint8_t* dst);

}  // namespace ko::driver
