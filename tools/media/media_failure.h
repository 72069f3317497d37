// The one shape of the media tools' errors: what was being done to which file, what went wrong and
// FFmpeg's reason, so a log line alone says which file to look at and why.
#pragma once

#include <stdexcept>
#include <string>

#include "driver/ff_handles.h"

namespace ko::tools {

// "<doing> <path>: <what> (<FFmpeg's text for error>)", e.g. "reading a.wav: cannot open the file (...)".
inline std::runtime_error mediaFailure(const std::string& doing, const std::string& path,
                                       const std::string& what, int error) {
  return std::runtime_error(doing + " " + path + ": " + what + " (" + driver::avErrorText(error) + ")");
}

}  // namespace ko::tools
