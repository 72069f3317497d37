// The container commands: packing a bundle directory, unpacking a container, finding a member.
#include <sys/stat.h>

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "ko/ko.h"
#include "tools/imx/imx_writer.h"
#include "tools/ko/commands.h"

namespace ko::cli {
namespace {

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

int runPack(const std::vector<std::string>& args) {
  if (args.size() != 2) return cli::usageError(kPackHelp);
  try {
    ko::tools::packImxDirectory(args[0], args[1]);
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "ko pack: %s\n", failure.what());
    return 1;
  }
  return 0;
}

int runUnpack(const std::vector<std::string>& args) {
  if (args.size() != 1) return cli::usageError(kUnpackHelp);
  std::vector<char> dir(4096);
  if (ko_bundle_resolve_handle(args[0].c_str(), dir.data(), dir.size()) != 1) return cli::libraryError();
  struct stat st {};
  if (stat(dir.data(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    std::fprintf(stderr, "ko unpack: %s is neither a bundle directory nor a container\n", args[0].c_str());
    return 1;
  }
  std::printf("%s\n", dir.data());
  return 0;
}

int runMember(const std::vector<std::string>& args) {
  if (args.size() != 2) return cli::usageError(kMemberHelp);
  std::vector<char> path(4096);
  const int found = ko_bundle_resolve_member(args[0].c_str(), args[1].c_str(), path.data(), path.size());
  if (found < 0) return cli::libraryError();
  std::printf("%s\n", path.data());
  return found == 1 ? 0 : 1;
}

}  // namespace

const Command kPackCommand{"pack", kPackHelp, runPack};
const Command kUnpackCommand{"unpack", kUnpackHelp, runUnpack};
const Command kMemberCommand{"member", kMemberHelp, runMember};

}  // namespace ko::cli
