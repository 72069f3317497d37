#include "driver/decoder_build.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

#include "driver/source.h"

namespace ko {

std::string movieDecoderBuild() {
  return std::string("libavcodec ") + driver::kBuiltAvcodecVersion + " / " + avcodec_configuration();
}

}  // namespace ko
