// `ko`: the command-line host of libko_core. It uses the library through its public C interface only.
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "ko/ko.h"
#include "tools/imx/imx_writer.h"

namespace {

constexpr const char* kUsage =
    "usage: ko <command> [arguments]\n"
    "\n"
    "commands:\n"
    "  pack DIR OUT.imx   pack a bundle directory into an IMX container\n"
    "  unpack BUNDLE      unpack a container (once) and print the bundle directory\n"
    "  member BUNDLE NAME print the path of a bundle member (legacy names are mapped)\n"
    "\n"
    "Run `ko <command> --help` for a command's details.\n";

constexpr const char* kPackHelp =
    "usage: ko pack DIR OUT.imx\n"
    "Packs every regular file below DIR into the IMX container OUT.imx (version 2). Member names are\n"
    "the files' paths relative to DIR; names the library would refuse to unpack are refused here.\n";

constexpr const char* kUnpackHelp =
    "usage: ko unpack BUNDLE\n"
    "Resolves BUNDLE (a container, a container path without .imx, or a bundle directory) and prints\n"
    "the bundle directory. A container is unpacked beside it, or under $KO_IMX_UNWRAP_ROOT, once.\n";

constexpr const char* kMemberHelp =
    "usage: ko member BUNDLE NAME\n"
    "Prints the path of member NAME of BUNDLE. Exits 0 when the file opens, 1 when it does not.\n";

bool wantsHelp(const std::vector<std::string>& args) {
  for (const std::string& arg : args) {
    if (arg == "--help" || arg == "-h") return true;
  }
  return false;
}

int usageError(const char* help) {
  std::fputs(help, stderr);
  return 2;
}

int libraryError() {
  std::fprintf(stderr, "ko: %s\n", ko_last_error());
  return 1;
}

int runPack(const std::vector<std::string>& args) {
  if (args.size() != 2) return usageError(kPackHelp);
  try {
    ko::tools::packImxDirectory(args[0], args[1]);
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "ko pack: %s\n", failure.what());
    return 1;
  }
  return 0;
}

int runUnpack(const std::vector<std::string>& args) {
  if (args.size() != 1) return usageError(kUnpackHelp);
  std::vector<char> dir(4096);
  if (ko_bundle_resolve_handle(args[0].c_str(), dir.data(), dir.size()) != 1) return libraryError();
  struct stat st {};
  if (stat(dir.data(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    std::fprintf(stderr, "ko unpack: %s is neither a bundle directory nor a container\n", args[0].c_str());
    return 1;
  }
  std::printf("%s\n", dir.data());
  return 0;
}

int runMember(const std::vector<std::string>& args) {
  if (args.size() != 2) return usageError(kMemberHelp);
  std::vector<char> path(4096);
  const int found = ko_bundle_resolve_member(args[0].c_str(), args[1].c_str(), path.data(), path.size());
  if (found < 0) return libraryError();
  std::printf("%s\n", path.data());
  return found == 1 ? 0 : 1;
}

struct Command {
  const char* name;
  const char* help;
  int (*run)(const std::vector<std::string>&);
};

constexpr Command kCommands[] = {
    {"pack", kPackHelp, runPack},
    {"unpack", kUnpackHelp, runUnpack},
    {"member", kMemberHelp, runMember},
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
    std::fputs(kUsage, argc < 2 ? stderr : stdout);
    return argc < 2 ? 2 : 0;
  }
  const std::vector<std::string> args(argv + 2, argv + argc);
  for (const Command& command : kCommands) {
    if (std::strcmp(argv[1], command.name) != 0) continue;
    if (wantsHelp(args)) {
      std::fputs(command.help, stdout);
      return 0;
    }
    return command.run(args);
  }
  std::fprintf(stderr, "ko: unknown command '%s'\n\n%s", argv[1], kUsage);
  return 2;
}
