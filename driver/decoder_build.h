// The libavcodec the library's sources were compiled against (the one loaded at run time may differ).
#pragma once

extern "C" {
#include <libavcodec/version.h>
#include <libavutil/macros.h>
}

namespace ko::driver {

inline constexpr const char* kBuiltAvcodecVersion = AV_STRINGIFY(LIBAVCODEC_VERSION);

}  // namespace ko::driver
