#include "driver/jpg_frame_path.h"

#include <cstdio>

namespace ko::driver {

std::string jpgFramePath(const std::string& dir, int32_t index) {
  char number[16];
  std::snprintf(number, sizeof number, "%06d", index);
  return dir + "/frame_" + number + ".jpg";
}

}  // namespace ko::driver
