// ko_demo_bundle OUT_DIR [--small | --small-teeth]: writes the procedurally drawn demo identity as a
// bundle directory (the full 1280 x 720 one, the miniature the tests use, or the smallest one that
// carries a teeth bank) and prints one line saying what it wrote.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <optional>
#include <string>

#include "tools/demo/demo_identity.h"

extern "C" {
#include <libavutil/log.h>
}

namespace {

int usage() {
  std::fprintf(stderr, "usage: ko_demo_bundle OUT_DIR [--small | --small-teeth]\n");
  return 2;
}

uintmax_t directoryBytes(const std::string& dir) {
  uintmax_t total = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(dir)) {
    if (entry.is_regular_file()) total += entry.file_size();
  }
  return total;
}

std::optional<ko::demo::DemoRecipe> recipeNamed(const char* option) {
  if (!option) return ko::demo::fullRecipe();
  if (std::strcmp(option, "--small") == 0) return ko::demo::smallRecipe();
  if (std::strcmp(option, "--small-teeth") == 0) return ko::demo::toothedSmallRecipe();
  return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3 || argv[1][0] == '\0') return usage();
  const std::optional<ko::demo::DemoRecipe> chosen = recipeNamed(argc == 3 ? argv[2] : nullptr);
  if (!chosen) return usage();
  const ko::demo::DemoRecipe recipe = *chosen;
  const std::string dir = argv[1];
  // The encoder's statistics would bury the one line this tool prints.
  av_log_set_level(AV_LOG_ERROR);
  const auto start = std::chrono::steady_clock::now();
  try {
    ko::demo::writeDemoBundle(recipe, dir);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    std::printf(
        "ko_demo_bundle: wrote %s (model key \"%s\", %d source frames of %dx%d crops, %dx%d driver movie, "
        "%d idle-loop rows, %.1f MB) in %.2f s\n",
        dir.c_str(), ko::demo::kDemoModelKey, recipe.NT, recipe.crop, recipe.crop, recipe.W, recipe.H,
        recipe.frames, static_cast<double>(directoryBytes(dir)) / 1e6, took.count());
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "ko_demo_bundle: %s\n", failure.what());
    return 1;
  }
  return 0;
}
