// The decoder for a member's video stream: the hardware H.264 decoder where the driver video allows
// it and the machine has one, the software decoder otherwise.
#pragma once

#include <string>

#include "driver/ff_decoding.h"
#include "driver/ff_handles.h"

namespace ko::driver {

CodecHandle openDecoder(const AVStream& stream, const std::string& path, SourceKind kind);

}  // namespace ko::driver
