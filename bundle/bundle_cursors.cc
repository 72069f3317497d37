#include "bundle/bundle_cursors.h"

#include <string>

#include "bundle/member_names.h"

namespace ko {

std::unique_ptr<DriverCursor> openBundleDriver(const Manifest& manifest, int32_t ahead, int32_t hist) {
  const DriverVideo video{manifest.driverFrames,
                          manifest.dir + "/" + manifest.driverFrames,
                          manifest.driverMovie,
                          resolveMember(manifest.dir, manifest.driverMovie),
                          manifest.NT,
                          manifest.W,
                          manifest.H};
  return DriverCursor::open(video, ahead, hist);
}

std::unique_ptr<DriverCursor> openBundlePrior(const Manifest& manifest, int32_t ahead, int32_t hist) {
  const std::string name = manifest.priorMovieMember();
  return DriverCursor::openPrior(
      PriorMovie{name, resolveMember(manifest.dir, name), manifest.NT, manifest.crop}, ahead, hist);
}

}  // namespace ko
