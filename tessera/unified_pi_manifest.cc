// Reading the manifest's `unified` block: the compose geometry a bundle was baked with, stated by the
// bundle and never guessed.
#include <stdexcept>
#include <string>

#include "tessera/json.h"
#include "tessera/pixel_math.h"
#include "tessera/unified_pi.h"

namespace ko::tessera {
namespace {

using json::JVal;

const JVal& member(const JVal& object, const char* key) {
  const JVal* value = object.get(key);
  if (value == nullptr) throw std::runtime_error(std::string("teeth: member JSON lacks key '") + key + "'");
  return *value;
}

[[noreturn]] void refuse(const std::string& message) {
  throw std::runtime_error("teeth-pi: " + message);
}

void readMode(const JVal& pi, UnifiedPi& out) {
  const JVal& mode = member(pi, "mode");
  if (mode.kind != json::kString) refuse("unified.pi.mode is not a string");
  if (mode.str != "prop") {
    refuse(
        "unified.pi.mode '" + mode.str +
        "' is a compose-mask geometry this port cannot name — fail loud, never adapt (the stamped-geometry "
        "rule)");
  }
  out.mode = mode.str;
}

void readCornerRecovery(const JVal& pi, UnifiedPi& out) {
  const JVal* recovery = pi.get("corner_recovery");
  if (recovery == nullptr) return;
  if (recovery->kind == json::kBool) {
    out.corner_recovery = recovery->b;
  } else if (recovery->kind == json::kString && recovery->str == "lip_landmark_half") {
    out.corner_recovery = true;
  } else {
    refuse(
        "unknown unified.pi.corner_recovery — a compose-mask geometry a consumer cannot name must never be "
        "guessed");
  }
}

void readLipIdx(const JVal& pi, UnifiedPi& out) {
  const JVal& rows = member(pi, "lip_idx");
  if (rows.kind != json::kArray || rows.arr.empty()) refuse("unified.pi.lip_idx is not a non-empty array");
  for (const JVal& row : rows.arr) {
    const int32_t index = truncToInt32(row.num);
    // Each row indexes a frame's 63 keypoint floats; refuse here rather than read outside them later.
    if (index < 0 || index >= kKeypointCount) {
      refuse("unified.pi.lip_idx names keypoint row " + std::to_string(index) + ", outside 0..20");
    }
    out.lip_idx.push_back(index);
  }
}

void readLipGeometry(const JVal& pi, UnifiedPi& out) {
  const JVal& params = member(pi, "lip_geom_params");
  if (params.kind != json::kArray || params.arr.size() != 3) {
    refuse("unified.pi.lip_geom_params must be [pad_x, pad_y, down]");
  }
  out.pad_x = static_cast<float>(params.arr[0].num);
  out.pad_y = static_cast<float>(params.arr[1].num);
  out.down = static_cast<float>(params.arr[2].num);
}

void checkCropCanvas(const JVal& unified, int32_t canvas) {
  const JVal* crop = unified.get("crop");
  const JVal* stated = crop == nullptr ? nullptr : crop->get("canvas");
  if (stated == nullptr) return;
  const int32_t manifestCanvas = truncToInt32(stated->num);
  if (manifestCanvas != canvas) {
    refuse("engine renders at canvas " + std::to_string(canvas) + " but unified.crop.canvas is " +
           std::to_string(manifestCanvas));
  }
}

}  // namespace

UnifiedPi UnifiedPi::fromManifestJson(std::string_view manifest, int32_t canvas) {
  const JVal root = json::parseJson(manifest, "manifest");
  const JVal* unified = root.get("unified");
  if (unified == nullptr || unified->kind != json::kObject) {
    refuse(
        "manifest has no `unified` block — this bundle predates the unified compose and cannot state the pi "
        "geometry it was baked with; refusing to guess one");
  }
  const JVal& pi = member(*unified, "pi");
  UnifiedPi out;
  readMode(pi, out);
  readCornerRecovery(pi, out);
  out.prop_gate_scale = static_cast<float>(member(pi, "prop_gate_scale").num);
  readLipIdx(pi, out);
  readLipGeometry(pi, out);
  checkCropCanvas(*unified, canvas);
  out.setCanvas(canvas);
  return out;
}

}  // namespace ko::tessera
