// `ko`: the command-line host of libko_core. It uses the library through its public C interface only,
// and shows a host's whole loop: open a bundle, render, paste, write the frames; or speak through the
// utterance pipeline.
extern "C" {
#include <libavutil/log.h>
}

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tools/ko/commands.h"

namespace {

constexpr const char* kUsage =
    "usage: ko <command> [arguments]\n"
    "\n"
    "commands:\n"
    "  info BUNDLE [--model KEY]      what a bundle holds and how the library reads it\n"
    "  render BUNDLE --model KEY --out PATH [--frames N] [--threads T] [--sheet PNG]\n"
    "                                 render the idle loop to an MP4 or a directory of PNG frames\n"
    "  speak BUNDLE --motion DIR --audio FILE --out OUT.mp4 [--model KEY] [--realtime] [--sheet PNG]\n"
    "                                 speak a speech file through the utterance pipeline to an MP4\n"
    "                                 with sound\n"
    "  pack DIR OUT.imx               pack a bundle directory into an IMX container\n"
    "  unpack BUNDLE                  unpack a container (once) and print the bundle directory\n"
    "  member BUNDLE NAME             print the path of a bundle member (legacy names are mapped)\n"
    "\n"
    "Run `ko <command> --help` for a command's details.\n";

const ko::cli::Command* const kCommands[] = {&ko::cli::kInfoCommand,   &ko::cli::kRenderCommand,
                                             &ko::cli::kSpeakCommand,  &ko::cli::kPackCommand,
                                             &ko::cli::kUnpackCommand, &ko::cli::kMemberCommand};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
    std::fputs(kUsage, argc < 2 ? stderr : stdout);
    return argc < 2 ? 2 : 0;
  }
  // x264's closing statistics and FFmpeg's informational chatter drown the summary; warnings still show.
  av_log_set_level(AV_LOG_WARNING);
  const std::vector<std::string> args(argv + 2, argv + argc);
  for (const ko::cli::Command* command : kCommands) {
    if (std::strcmp(argv[1], command->name) != 0) continue;
    if (ko::cli::wantsHelp(args)) {
      std::fputs(command->help, stdout);
      return 0;
    }
    return command->run(args);
  }
  std::fprintf(stderr, "ko: unknown command '%s'\n\n%s", argv[1], kUsage);
  return 2;
}
