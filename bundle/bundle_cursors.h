// A bundle's driver video and warp prior movie, found by the names its manifest gives them and
// opened as cursors.
#pragma once

#include <cstdint>
#include <memory>

#include "bundle/manifest.h"
#include "driver/driver.h"

namespace ko {

std::unique_ptr<DriverCursor> openBundleDriver(const Manifest& manifest, int32_t ahead, int32_t hist);
std::unique_ptr<DriverCursor> openBundlePrior(const Manifest& manifest, int32_t ahead, int32_t hist);

}  // namespace ko
