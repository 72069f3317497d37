#include "tools/authoring/lip_template.h"

#include <algorithm>

#include <cmath>
#include <cstdio>
#include <numbers>

namespace ko::authoring {
namespace {

std::string number(double v) {
  char text[40];
  std::snprintf(text, sizeof text, "%.17g", v);
  return text;
}

std::string quoted(const std::string& s) {
  return "\"" + s + "\"";
}

template <class T>
std::string list(const std::vector<T>& values) {
  std::string out = "[";
  for (size_t i = 0; i < values.size(); ++i) out += (i ? ", " : "") + number(static_cast<double>(values[i]));
  return out + "]";
}

std::string mapJson(const LipMapSpec& map) {
  std::string out = "{\"schema\": " + quoted(map.schema) + ", \"kind\": " + quoted(map.kind) +
                    ", \"lip_idx\": " + list(map.lipIdx) + ", \"W\": [";
  for (size_t i = 0; i < map.W.size(); ++i) out += (i ? ", " : "") + list(map.W[i]);
  out += "], \"b\": " + list(map.b);
  if (map.canvas) out += ", \"canvas\": " + std::to_string(*map.canvas);
  return out + "}";
}

std::string composeJson(const std::vector<ComposeV2Graph>& graphs) {
  std::string out = "{\"schema\": \"compose-v2-structure-v1\", \"graphs\": {";
  for (size_t i = 0; i < graphs.size(); ++i) {
    const ComposeV2Graph& g = graphs[i];
    out += (i ? ", " : "") + quoted(g.graphKey) + ": {\"source_sha256\": " + quoted(g.sourceSha256) +
           ", \"structure\": " + quoted(g.structureBase64) +
           ", \"structure_sha256\": " + quoted(g.structureSha256) + "}";
  }
  return out + "}}";
}

}  // namespace

std::string lipTemplateJson(const LipTemplateSpec& lips) {
  std::string out = "{\"format\": " + quoted(lips.format);
  if (lips.edge) out += ", \"edge\": " + quoted(*lips.edge);
  out += ", \"canvas\": " + std::to_string(lips.canvas) + ", \"feather_px\": " + number(lips.featherPx) +
         ", \"u_canon\": [";
  for (size_t i = 0; i < lips.uCanon.size(); ++i) {
    out +=
        std::string(i ? ", " : "") + "[" + number(lips.uCanon[i][0]) + ", " + number(lips.uCanon[i][1]) + "]";
  }
  out += "], \"lip_idx\": " + list(lips.lipIdx);
  if (lips.lipMap) out += ", \"lip_map\": " + mapJson(*lips.lipMap);
  if (!lips.composeV2.empty()) out += ", \"compose_v2\": " + composeJson(lips.composeV2);
  return out + "}";
}

std::vector<std::array<double, 2>> ellipseOutline(int nv) {
  std::vector<std::array<double, 2>> outline;
  for (int i = 0; i < nv; ++i) {
    const double angle = 2.0 * std::numbers::pi * i / nv;
    outline.push_back({std::cos(angle), std::sin(angle)});
  }
  return outline;
}

std::string base64Encode(const std::vector<uint8_t>& bytes) {
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (size_t i = 0; i < bytes.size(); i += 3) {
    const size_t n = std::min<size_t>(3, bytes.size() - i);
    uint32_t group = 0;
    for (size_t k = 0; k < 3; ++k) group = (group << 8) | (k < n ? bytes[i + k] : 0u);
    for (size_t k = 0; k < 4; ++k) out += k <= n ? kAlphabet[(group >> (18 - 6 * k)) & 63] : '=';
  }
  return out;
}

}  // namespace ko::authoring
