// `ko render`: the idle loop of a bundle rendered, pasted and written out, the way a host drives the
// library frame by frame.
#include <chrono>
#include <cstdio>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tools/ko/bundle_access.h"
#include "tools/ko/commands.h"
#include "tools/ko/contact_sheet.h"
#include "tools/ko/frame_output.h"
#include "tools/ko/progress_bar.h"
#include "tools/ko/stage_clock.h"

namespace ko::cli {
namespace {

constexpr int kFps = 25;

constexpr const char* kRenderHelp =
    "usage: ko render BUNDLE --model KEY --out PATH [--frames N] [--threads T] [--sheet PNG]\n"
    "Renders the bundle's idle loop with the director model_KEY.onnx: row t of the loop's tables gives\n"
    "frame t its source frame and keypoints (the loop repeats when N exceeds its rows), and each crop is\n"
    "pasted into its driver frame. Frames go to PATH: an H.264 movie at 25 frames/s for .mp4, .mov and\n"
    ".mkv, otherwise a directory of PNG files frame_000000.png, ...\n"
    "  --frames N   frames to render (default: the loop's rows)\n"
    "  --threads T  the director's intra-op threads (default: the library chooses)\n"
    "  --sheet PNG  also write a contact sheet: a grid of 12 frames picked evenly\n"
    "A summary of per-stage times (render, paste, encode) and frames per second ends the run.\n";

struct RenderJob {
  std::string bundle, model, out, sheet;
  int frames = 0;  // 0: the loop's rows
  int threads = 0;
};

std::optional<RenderJob> renderJob(const std::vector<std::string>& args) {
  const std::optional<Arguments> parsed =
      parseArguments(args, {"model", "out", "frames", "threads", "sheet"});
  if (!parsed || parsed->positional.size() != 1) return std::nullopt;
  const auto& options = parsed->options;
  if (!options.contains("model") || !options.contains("out")) return std::nullopt;
  RenderJob job;
  job.bundle = parsed->positional[0];
  job.model = options.at("model");
  job.out = options.at("out");
  if (options.contains("sheet")) job.sheet = options.at("sheet");
  if (options.contains("frames")) {
    const std::optional<int> frames = integerAtLeast(options.at("frames"), 1);
    if (!frames) return std::nullopt;
    job.frames = *frames;
  }
  if (options.contains("threads")) {
    const std::optional<int> threads = integerAtLeast(options.at("threads"), 1);
    if (!threads) return std::nullopt;
    job.threads = *threads;
  }
  return job;
}

struct Loop {
  ko_ctx* ctx;
  std::vector<int32_t> sources;  // source frame per loop row
  int frames;
};

// Renders and writes every frame; returns false after printing the library's error.
bool renderFrames(const Loop& loop, FrameOutput& output, ContactSheet* sheet, StageClock& clock) {
  ProgressBar progress(loop.frames);
  const int rows = static_cast<int>(loop.sources.size());
  for (int i = 0; i < loop.frames; ++i) {
    const int t = i % rows;
    if (!clock.time(0, [&] { return ko_render_drive_crop(loop.ctx, t); })) return false;
    const uint8_t* frame =
        clock.time(1, [&] { return ko_paste_last(loop.ctx, loop.sources[static_cast<size_t>(t)]); });
    if (!frame) return false;
    clock.time(2, [&] {
      output.write(frame);
      return 0;
    });
    if (sheet) sheet->offer(i, frame);
    progress.update(i + 1);
  }
  progress.close();
  return true;
}

void printSummary(const RenderJob& job, ko_ctx* ctx, int frames, double seconds, const StageClock& clock) {
  std::printf("rendered %d frames (%dx%d, crop %d) in %.2f s: %.1f frames/s\n%s", frames, ko_width(ctx),
              ko_height(ctx), ko_crop(ctx), seconds, seconds > 0 ? frames / seconds : 0.0,
              clock.table().c_str());
  std::printf("wrote %s\n", job.out.c_str());
  if (!job.sheet.empty()) std::printf("wrote %s\n", job.sheet.c_str());
}

int render(const RenderJob& job) {
  const Session session(ko_create(job.bundle.c_str(), job.model.c_str(), job.threads, nullptr));
  if (!session) return libraryError();
  ko_ctx* ctx = session.get();
  const int rows = ko_drive_frames(ctx);
  if (rows < 1) {
    std::fprintf(stderr, "ko render: the bundle has no idle loop to render\n");
    return 1;
  }
  std::optional<std::vector<int32_t>> sources = idleLoopSources(job.bundle, rows, ko_nt(ctx));
  if (!sources) return 1;
  const Loop loop{ctx, std::move(*sources), job.frames > 0 ? job.frames : rows};
  try {
    const std::unique_ptr<FrameOutput> output = openFrameOutput(job.out, ko_width(ctx), ko_height(ctx), kFps);
    std::unique_ptr<ContactSheet> sheet;
    if (!job.sheet.empty())
      sheet = std::make_unique<ContactSheet>(ko_width(ctx), ko_height(ctx), loop.frames);
    StageClock clock({"render", "paste", "encode"});
    const auto start = std::chrono::steady_clock::now();
    if (!renderFrames(loop, *output, sheet.get(), clock)) return libraryError();
    clock.time(2, [&] {
      output->finish();
      return 0;
    });
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (sheet) sheet->write(job.sheet);
    printSummary(job, ctx, loop.frames, seconds, clock);
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "ko render: %s\n", failure.what());
    return 1;
  }
  return 0;
}

int runRender(const std::vector<std::string>& args) {
  const std::optional<RenderJob> job = renderJob(args);
  if (!job) return usageError(kRenderHelp);
  return render(*job);
}

}  // namespace

const Command kRenderCommand{"render", kRenderHelp, runRender};

}  // namespace ko::cli
