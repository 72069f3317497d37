#include "tools/ko/bundle_access.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>

namespace ko::cli {
namespace {

constexpr size_t kPathCapacity = 4096;

}  // namespace

std::optional<std::string> bundleDirectory(const std::string& bundle) {
  std::vector<char> dir(kPathCapacity);
  if (ko_bundle_resolve_handle(bundle.c_str(), dir.data(), dir.size()) != 1) return std::nullopt;
  return std::string(dir.data());
}

std::optional<MemberPath> memberPath(const std::string& bundle, const std::string& legacyName) {
  std::vector<char> path(kPathCapacity);
  const int found = ko_bundle_resolve_member(bundle.c_str(), legacyName.c_str(), path.data(), path.size());
  if (found < 0) return std::nullopt;
  return MemberPath{path.data(), found == 1};
}

std::vector<std::string> directorNetworks(const std::string& dir) {
  std::vector<std::string> networks;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(dir, error)) {
    const std::string name = entry.path().filename().string();
    const bool legacy = name.starts_with("model_"), current = name.starts_with("render_model.");
    if ((legacy || current) && name.ends_with(".onnx")) networks.push_back(name);
  }
  std::sort(networks.begin(), networks.end());
  return networks;
}

std::string directorKey(const std::string& network) {
  constexpr size_t kPrefix = 6, kSuffix = 5;  // "model_", ".onnx"
  if (!network.starts_with("model_") || network.size() <= kPrefix + kSuffix) return "";
  return network.substr(kPrefix, network.size() - kPrefix - kSuffix);
}

std::optional<std::vector<int32_t>> idleLoopSources(const std::string& bundle, int rows, int nt) {
  const std::optional<MemberPath> member = memberPath(bundle, "drive/si.i32");
  if (!member || !member->present) {
    std::fprintf(stderr, "ko: the bundle has no idle-loop source indices (drive/si.i32)\n");
    return std::nullopt;
  }
  std::vector<int32_t> sources(static_cast<size_t>(rows));
  std::ifstream file(member->path, std::ios::binary);
  const auto bytes = static_cast<std::streamsize>(sources.size() * sizeof(int32_t));
  if (!file.read(reinterpret_cast<char*>(sources.data()), bytes)) {
    std::fprintf(stderr, "ko: %s holds fewer than %d source indices\n", member->path.c_str(), rows);
    return std::nullopt;
  }
  for (size_t t = 0; t < sources.size(); ++t) {
    if (sources[t] < 0 || sources[t] >= nt) {
      std::fprintf(stderr, "ko: idle-loop row %zu names source frame %d, outside 0..%d\n", t, sources[t],
                   nt - 1);
      return std::nullopt;
    }
  }
  return sources;
}

}  // namespace ko::cli
