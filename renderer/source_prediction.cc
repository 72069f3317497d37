#include "renderer/source_prediction.h"

namespace ko {
namespace {

int32_t wrapIndex(int64_t index, int32_t count) {
  const int64_t wrapped = index % count;
  return static_cast<int32_t>(wrapped < 0 ? wrapped + count : wrapped);
}

bool isUnitStep(int64_t d) {
  return d == 1 || d == -1;
}

}  // namespace

int32_t SourcePrediction::next(int32_t si, int32_t frameCount) {
  const int32_t previous = lastSi_;
  lastSi_ = si;
  if (frameCount < 2) return si;
  const int64_t d = static_cast<int64_t>(si) - previous;
  if (previous == frameCount - 1 && si == 0) {
    wrapped_ = true;
    if (isUnitStep(d)) step_ = static_cast<int32_t>(d);
    return wrapIndex(static_cast<int64_t>(si) + step_, frameCount);
  }
  if (previous >= 0 && isUnitStep(d)) step_ = static_cast<int32_t>(d);
  const int64_t candidate = static_cast<int64_t>(si) + step_;
  if (wrapped_) return wrapIndex(candidate, frameCount);
  // Not seen wrapping: assume the loop plays back and forth and turn around at the ends.
  if (candidate < 0) return 1;
  if (candidate >= frameCount) return frameCount - 2;
  return static_cast<int32_t>(candidate);
}

}  // namespace ko
