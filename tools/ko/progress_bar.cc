#include "tools/ko/progress_bar.h"

#include <unistd.h>

#include <cstdio>
#include <string>

namespace ko::cli {
namespace {

constexpr int kBarWidth = 30;
constexpr std::chrono::milliseconds kRedrawEvery{200};

}  // namespace

ProgressBar::ProgressBar(int total)
    : total_(total), terminal_(isatty(STDERR_FILENO) == 1), start_(std::chrono::steady_clock::now()) {}

void ProgressBar::update(int done) {
  if (!terminal_) return;
  const auto now = std::chrono::steady_clock::now();
  if (drawn_ && done < total_ && now - lastDraw_ < kRedrawEvery) return;
  lastDraw_ = now;
  drawn_ = true;
  const int filled = total_ > 0 ? done * kBarWidth / total_ : kBarWidth;
  const double seconds = std::chrono::duration<double>(now - start_).count();
  std::fprintf(stderr, "\r[%s%s] %d/%d frames, %.1f frames/s ",
               std::string(static_cast<size_t>(filled), '#').c_str(),
               std::string(static_cast<size_t>(kBarWidth - filled), '.').c_str(), done, total_,
               seconds > 0 ? done / seconds : 0.0);
  std::fflush(stderr);
}

void ProgressBar::close() {
  if (drawn_) std::fputc('\n', stderr);
  drawn_ = false;
}

}  // namespace ko::cli
