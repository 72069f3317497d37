// Which source frame the renderer will ask for next, so the source-cone worker can prepare it ahead of
// time. Idle loops advance by one frame per frame, forwards or backwards; at the end they either wrap
// to the start (and keep wrapping) or turn around.
#pragma once

#include <cstdint>

namespace ko {

class SourcePrediction {
 public:
  // Records that `si` is being rendered now and returns the source index expected next, in
  // [0, frameCount) (si itself when frameCount < 2).
  int32_t next(int32_t si, int32_t frameCount);

  int32_t step() const { return step_; }
  bool wrapped() const { return wrapped_; }

 private:
  int32_t lastSi_ = -1;
  int32_t step_ = 1;
  bool wrapped_ = false;
};

}  // namespace ko
