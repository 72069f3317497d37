// Writes "lip_template.v1.json" texts: the canonical outline, its anchors and feather, an optional
// anchor-linear lip map and optional compose-v2 structures. Fields a test wants broken are plain
// strings or optionals, so every refusal can be produced from a valid template.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ko::authoring {

struct LipMapSpec {
  std::string schema = "lip-map-v1";
  std::string kind = "anchor-linear";
  std::vector<int32_t> lipIdx;
  std::vector<std::vector<double>> W;  // 2*nv rows of 2*len(lipIdx)
  std::vector<double> b;               // 2*nv
  std::optional<int32_t> canvas;
};

struct ComposeV2Graph {
  std::string graphKey;
  std::string structureBase64;
  std::string sourceSha256;
  std::string structureSha256;
};

struct LipTemplateSpec {
  std::string format = "lip-template-v1";
  std::optional<std::string> edge = "outward";
  int32_t canvas = 512;
  double featherPx = 6.0;
  std::vector<std::array<double, 2>> uCanon;
  std::vector<int32_t> lipIdx;
  std::optional<LipMapSpec> lipMap;
  std::vector<ComposeV2Graph> composeV2;  // empty: no compose_v2 block
};

std::string lipTemplateJson(const LipTemplateSpec& lips);

// Standard base64 with padding, the form a template stores a structure in; written apart from the
// library's decoder, so a round trip checks one against the other.
std::string base64Encode(const std::vector<uint8_t>& bytes);

// A closed outline of `nv` vertices on the unit ellipse, the shape tests and benchmarks deform.
std::vector<std::array<double, 2>> ellipseOutline(int nv);

}  // namespace ko::authoring
