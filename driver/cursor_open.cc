// Opening a driver video and a movie-backed warp prior as cursors.
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <string>

#include "driver/cursor.h"
#include "driver/jpg_frame_path.h"
#include "pool/pool.h"

namespace ko {
namespace {

bool exists(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0;
}

}  // namespace

std::unique_ptr<DriverCursor> DriverCursor::open(const DriverVideo& video, int32_t ahead, int32_t hist) {
  const char* dirName = video.framesName.c_str();
  const char* movieName = video.movieName.c_str();
  // A directory counts only when its last frame is there: a partly extracted one is no driver.
  const bool populated = video.frames > 0 && exists(driver::jpgFramePath(video.framesPath, video.frames - 1));
  const bool preferMovie = envEquals("KO_DRIVER_PREFER_MP4", "1") && exists(video.moviePath);
  if (preferMovie && populated) {
    std::fprintf(
        stderr,
        "[ko-driver] KO_DRIVER_PREFER_MP4=1 — %s/ is populated and NOT used; %s is the member this consumer "
        "reads\n",
        dirName, movieName);
  }
  if (!preferMovie && populated) {
    std::fprintf(stderr, "[ko-driver] %s/ (raw jpg, %d frames) — read one frame per pull\n", dirName,
                 video.frames);
    return over(driver::openJpgDir(video.framesPath, video.frames, video.width, video.height), ahead, hist);
  }
  if (exists(video.moviePath)) {
    auto source = driver::openMp4(video.moviePath, video.frames, video.width, video.height);
    std::fprintf(
        stderr,
        "[ko-driver] %s decoded IN PLACE (%s, %d frames %dx%d, look-ahead %d, history %d) — no frame of the "
        "driver is expanded ahead of the paste\n",
        movieName, source->name().c_str(), video.frames, video.width, video.height, std::max(1, ahead),
        std::max(0, hist));
    return over(std::move(source), ahead, hist);
  }
  throw std::runtime_error("this bundle carries neither a populated " + video.framesName + "/ nor " +
                           video.movieName + " (" + video.moviePath +
                           ") — there is no driver video to play. REFUSING to create a session.");
}

std::unique_ptr<DriverCursor> DriverCursor::openPrior(const PriorMovie& movie, int32_t ahead, int32_t hist) {
  if (!exists(movie.path)) {
    throw std::runtime_error("this bundle carries neither a raw P.f16 nor " + movie.name + " (" + movie.path +
                             ") — there is no warp prior to play. REFUSING to create a session.");
  }
  auto source = driver::openPriorHevc(movie.path, movie.frames, movie.crop);
  std::fprintf(stderr,
               "Quandrel: identity source ready — %d frames %dx%d, played straight from %s (%s); nothing is "
               "unpacked to disk\n",
               movie.frames, movie.crop, movie.crop, movie.name.c_str(), source->name().c_str());
  return over(std::move(source), ahead, hist);
}

}  // namespace ko
