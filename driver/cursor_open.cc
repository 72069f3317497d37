// Opening the bundle's driver video and its movie-backed warp prior as cursors.
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>

#include "bundle/bundle.h"
#include "driver/cursor.h"
#include "driver/jpg_frame_path.h"
#include "pool/pool.h"

namespace ko {
namespace {

bool exists(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0;
}

// The manifest's text, or nothing when it cannot be read: the member names fall back to defaults.
std::string manifestText(const Manifest& manifest) {
  try {
    return readText(manifest.dir + "/manifest.json");
  } catch (const std::exception&) {
    return {};
  }
}

}  // namespace

std::unique_ptr<DriverCursor> DriverCursor::open(const Manifest& manifest, int32_t ahead, int32_t hist) {
  std::string dirName = "target_frames", movieName = "target_frames.mp4";
  const std::string text = manifestText(manifest);
  optStr(text, "target_frames", dirName);
  optStr(text, "target_frames_mp4", movieName);
  const std::string dirPath = manifest.dir + "/" + dirName;
  // A directory counts only when its last frame is there: a partly extracted one is no driver.
  const bool populated = manifest.NT > 0 && exists(driver::jpgFramePath(dirPath, manifest.NT - 1));
  const std::string moviePath = resolveMember(manifest.dir, movieName);
  const bool preferMovie = envEquals("KO_DRIVER_PREFER_MP4", "1") && exists(moviePath);
  if (preferMovie && populated) {
    std::fprintf(
        stderr,
        "[ko-driver] KO_DRIVER_PREFER_MP4=1 — %s/ is populated and NOT used; %s is the member this consumer "
        "reads\n",
        dirName.c_str(), movieName.c_str());
  }
  if (!preferMovie && populated) {
    std::fprintf(stderr, "[ko-driver] %s/ (raw jpg, %d frames) — read one frame per pull\n", dirName.c_str(),
                 manifest.NT);
    return over(driver::openJpgDir(dirPath, manifest.NT, manifest.W, manifest.H), ahead, hist);
  }
  if (exists(moviePath)) {
    auto source = driver::openMp4(moviePath, manifest.NT, manifest.W, manifest.H);
    std::fprintf(
        stderr,
        "[ko-driver] %s decoded IN PLACE (%s, %d frames %dx%d, look-ahead %d, history %d) — no frame of the "
        "driver is expanded ahead of the paste\n",
        movieName.c_str(), source->name().c_str(), manifest.NT, manifest.W, manifest.H, std::max(1, ahead),
        std::max(0, hist));
    return over(std::move(source), ahead, hist);
  }
  throw std::runtime_error("this bundle carries neither a populated " + dirName + "/ nor " + movieName +
                           " (" + moviePath +
                           ") — there is no driver video to play. REFUSING to create a session.");
}

std::unique_ptr<DriverCursor> DriverCursor::openPrior(const Manifest& manifest, int32_t ahead, int32_t hist) {
  std::string movieName = "P_hevc.mov";
  optStr(manifestText(manifest), "P_hevc", movieName);
  const std::string path = resolveMember(manifest.dir, movieName);
  if (!exists(path)) {
    throw std::runtime_error("this bundle carries neither a raw P.f16 nor " + movieName + " (" + path +
                             ") — there is no warp prior to play. REFUSING to create a session.");
  }
  auto source = driver::openPriorHevc(path, manifest.NT, manifest.crop);
  std::fprintf(stderr,
               "Quandrel: identity source ready — %d frames %dx%d, played straight from %s (%s); nothing is "
               "unpacked to disk\n",
               manifest.NT, manifest.crop, manifest.crop, movieName.c_str(), source->name().c_str());
  return over(std::move(source), ahead, hist);
}

}  // namespace ko
