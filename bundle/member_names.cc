#include "bundle/member_names.h"

#include <array>
#include <string_view>
#include <utility>

#include "bundle/file_io.h"

namespace ko {
namespace {

constexpr std::array<std::pair<std::string_view, std::string_view>, 9> kAliases{{
    {"P.f16", "source_frames.f16"},
    {"P_hevc.mov", "source_frames.hevc"},
    {"a2x_enc_stream.onnx", "audio_motion_encoder.onnx"},
    {"a2x_dec.onnx", "audio_motion_decoder.onnx"},
    {"M.f32", "paste_transform.f32"},
    {"mask_512.u8", "paste_mask.u8"},
    {"pooled64.f16", "pooled_features.f16"},
    {"fs_red.f16", "feature_synth.f16"},
    {"xs_target.bin", "target_keypoints.bin"},
}};

constexpr std::string_view kRenderPrefix = "model_b";
constexpr std::string_view kRenderSuffix = ".onnx";
constexpr std::string_view kDrivePrefix = "drive/";

// model_b<N>[_<V>].onnx -> render_model.batch<N>[.<V>].onnx
std::string renderNetworkName(std::string_view name) {
  const std::string_view middle =
      name.substr(kRenderPrefix.size(), name.size() - kRenderPrefix.size() - kRenderSuffix.size());
  const size_t underscore = middle.find('_');
  std::string current = "render_model.batch";
  if (underscore == std::string_view::npos) {
    current += middle;
  } else {
    current += middle.substr(0, underscore);
    const std::string_view variant = middle.substr(underscore + 1);
    if (!variant.empty()) current.append(".").append(variant);
  }
  return current.append(kRenderSuffix);
}

// drive/<stem><.ext> -> idle_loop/<renamed stem><.ext>
std::string driveTableName(std::string_view name) {
  const std::string_view rest = name.substr(kDrivePrefix.size());
  const size_t dot = rest.find('.');
  std::string_view stem = rest.substr(0, dot);
  const std::string_view extension = dot == std::string_view::npos ? "" : rest.substr(dot);
  if (stem == "xs") stem = "source_keypoints";
  if (stem == "xd") stem = "driven_keypoints";
  if (stem == "si") stem = "source_index";
  return std::string("idle_loop/").append(stem).append(extension);
}

bool isRenderNetworkName(std::string_view name) {
  return name.size() > kRenderPrefix.size() + kRenderSuffix.size() && name.starts_with(kRenderPrefix) &&
         name.ends_with(kRenderSuffix);
}

}  // namespace

std::string canonicalMember(const std::string& name) {
  for (const auto& [legacy, current] : kAliases) {
    if (name == legacy) return std::string(current);
  }
  if (isRenderNetworkName(name)) return renderNetworkName(name);
  if (name.starts_with(kDrivePrefix)) return driveTableName(name);
  return name;
}

std::string resolveMember(const std::string& dir, const std::string& name) {
  const std::string current = canonicalMember(name);
  const std::string legacyPath = dir + "/" + name;
  if (current == name) return legacyPath;
  if (opensForReading(legacyPath)) return legacyPath;
  const std::string currentPath = dir + "/" + current;
  if (opensForReading(currentPath)) return currentPath;
  return legacyPath;
}

}  // namespace ko
