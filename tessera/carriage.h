// Which teeth members a bundle carries. The borrow is a switch: all four members arm it, any one
// missing refuses it with one sentence naming every missing member.
#pragma once

#include <array>
#include <stdexcept>
#include <string>
#include <vector>

namespace ko {
struct Manifest;
}

namespace ko::tessera {

inline constexpr int kTesseraSlots = 4;

// The default member file name per slot, in slot order: bank track, bank sidecar, head weights, head
// config.
struct TesseraSlots {
  std::array<std::string, kTesseraSlots> names = {"tessera_bank.v1.mp4", "tessera_bank.v1.json",
                                                  "tessera_head.v1.pt", "tessera_head.v1.json"};
};

// "bank_track", "bank_sidecar", "head_weights", "head_config".
const std::array<const char*, kTesseraSlots>& tesseraSlotKeys();
int tesseraSlotCount();

struct TesseraCarriage {
  std::array<std::string, kTesseraSlots> names = TesseraSlots().names;
  std::array<std::string, kTesseraSlots> paths;  // resolved for every slot, present or not
  bool complete = false;
  std::vector<std::string> missing;  // slot keys, in slot order
  bool declared = false;             // the manifest carries a "tessera" object
  std::vector<std::string> planes;   // manifest.tessera.planes, kept as they stand

  // Throws "teeth: no such member slot '<key>'" for a key that is not a slot.
  const std::string& path(const std::string& slotKey) const;
};

struct MissingTesseraMember : std::runtime_error {
  MissingTesseraMember(const std::string& message, std::vector<std::string> missingSlots)
      : std::runtime_error(message), missing(std::move(missingSlots)) {}
  std::vector<std::string> missing;
};

// Never throws for a missing member: an unreadable manifest leaves the defaults in place.
TesseraCarriage tesseraCarriage(const std::string& bundle);
TesseraCarriage tesseraCarriage(const Manifest& manifest);

// Returns when the carriage is complete; otherwise throws MissingTesseraMember.
void requireTesseraMembers(const TesseraCarriage& carriage);

// The first of "manifest.json", "meta.json" in the directory that opens, or "" when neither does.
std::string findTesseraManifest(const std::string& dir);

}  // namespace ko::tessera
