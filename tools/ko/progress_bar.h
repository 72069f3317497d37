// A one-line progress bar on a terminal's standard error; silent when standard error is not one.
#pragma once

#include <chrono>

namespace ko::cli {

class ProgressBar {
 public:
  explicit ProgressBar(int total);
  // Redraws at most a few times a second, and always for the last frame.
  void update(int done);
  // Ends the line the bar was drawn on.
  void close();

 private:
  int total_;
  bool terminal_;
  bool drawn_ = false;
  std::chrono::steady_clock::time_point start_, lastDraw_;
};

}  // namespace ko::cli
