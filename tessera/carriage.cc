#include "tessera/carriage.h"

#include "bundle/bundle.h"
#include "tessera/json.h"

namespace ko::tessera {
namespace {

constexpr const char* kSwitchRuling =
    ". ONE predicate (owner ruling 2026-09-06): all four members present = ARMED on every plane; any "
    "missing = REFUSED on every plane. The borrow is a SWITCH, not a gradient \xe2\x80\x94 there is no "
    "rendering mode that proceeds without them (velmora-2 IS borrowed teeth). Re-stage the bundle with "
    "the bank builder.";

// Applies the manifest's "tessera" block; an absent, unreadable or unparsable manifest leaves the
// defaults and the carriage undeclared.
void readDeclaration(const std::string& dir, TesseraCarriage& carriage) {
  const std::string manifestPath = findTesseraManifest(dir);
  if (manifestPath.empty()) return;
  json::JVal root;
  try {
    root = json::parseJson(readFile(manifestPath), manifestPath);
  } catch (const std::exception&) {
    return;
  }
  const json::JVal* block = root.get("tessera");
  if (!block || block->kind != json::kObject) return;
  carriage.declared = true;
  if (const json::JVal* members = block->get("members"); members && members->kind == json::kObject) {
    for (int slot = 0; slot < kTesseraSlots; ++slot) {
      const json::JVal* name = members->get(tesseraSlotKeys()[static_cast<size_t>(slot)]);
      if (name && name->kind == json::kString && !name->str.empty()) {
        carriage.names[static_cast<size_t>(slot)] = name->str;
      }
    }
  }
  if (const json::JVal* planes = block->get("planes"); planes && planes->kind == json::kArray) {
    for (const json::JVal& plane : planes->arr) {
      if (plane.kind == json::kString) carriage.planes.push_back(plane.str);
    }
  }
}

TesseraCarriage carriageOf(const std::string& dir) {
  TesseraCarriage carriage;
  readDeclaration(dir, carriage);
  for (size_t slot = 0; slot < kTesseraSlots; ++slot) {
    carriage.paths[slot] = resolveMember(dir, carriage.names[slot]);
    if (!opensForReading(carriage.paths[slot])) carriage.missing.push_back(tesseraSlotKeys()[slot]);
  }
  carriage.complete = carriage.missing.empty();
  return carriage;
}

}  // namespace

const std::array<const char*, kTesseraSlots>& tesseraSlotKeys() {
  static const std::array<const char*, kTesseraSlots> keys = {"bank_track", "bank_sidecar", "head_weights",
                                                              "head_config"};
  return keys;
}

int tesseraSlotCount() {
  return kTesseraSlots;
}

const std::string& TesseraCarriage::path(const std::string& slotKey) const {
  for (size_t slot = 0; slot < kTesseraSlots; ++slot) {
    if (slotKey == tesseraSlotKeys()[slot]) return paths[slot];
  }
  throw std::runtime_error("teeth: no such member slot '" + slotKey + "'");
}

std::string findTesseraManifest(const std::string& dir) {
  for (const char* name : {"manifest.json", "meta.json"}) {
    const std::string path = dir + "/" + name;
    if (opensForReading(path)) return path;
  }
  return "";
}

TesseraCarriage tesseraCarriage(const std::string& bundle) {
  return carriageOf(resolveBundlePath(bundle));
}

TesseraCarriage tesseraCarriage(const Manifest& manifest) {
  return carriageOf(manifest.dir);
}

void requireTesseraMembers(const TesseraCarriage& carriage) {
  if (carriage.complete) return;
  std::string message = "missing teeth member(s): ";
  for (size_t i = 0; i < carriage.missing.size(); ++i) {
    if (i > 0) message += ", ";
    const std::string& key = carriage.missing[i];
    size_t slot = 0;
    while (slot + 1 < kTesseraSlots && key != tesseraSlotKeys()[slot]) ++slot;
    message += key + " (" + carriage.names[slot] + ")";
  }
  message += " \xe2\x80\x94 carries " +
             std::to_string(kTesseraSlots - static_cast<int>(carriage.missing.size())) + " of 4";
  if (carriage.declared) message += " and declares a manifest.tessera block the members do not keep";
  message += kSwitchRuling;
  throw MissingTesseraMember(message, carriage.missing);
}

}  // namespace ko::tessera
