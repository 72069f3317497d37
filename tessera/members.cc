#include "tessera/members.h"

#include <stdexcept>

#include "bundle/bundle.h"

namespace ko::tessera {
namespace {

constexpr size_t kSidecar = 1, kHeadWeights = 2, kHeadConfig = 3;

// The whole member, with the library's read failures in the teeth family's words.
std::string readMember(const std::string& path) {
  try {
    return readFile(path);
  } catch (const std::runtime_error& failure) {
    throw std::runtime_error(std::string("teeth: ") + failure.what());
  }
}

}  // namespace

TesseraAttachInputs loadTesseraMembers(const std::string& bundle) {
  const std::string dir = resolveBundlePath(bundle);
  const TesseraCarriage carriage = tesseraCarriage(dir);
  requireTesseraMembers(carriage);
  const std::string manifestPath = findTesseraManifest(dir);
  if (manifestPath.empty()) {
    throw std::runtime_error(dir +
                             " carries no manifest.json or meta.json \xe2\x80\x94 the compose descriptor "
                             "(unified.pi) the pass places its window by lives there, and placing a borrow "
                             "window without it is guessing.");
  }
  TesseraAttachInputs inputs;
  inputs.manifest_json = readMember(manifestPath);
  inputs.head_json = readMember(carriage.paths[kHeadConfig]);
  inputs.head_pt = readMember(carriage.paths[kHeadWeights]);
  inputs.bank_track_path = carriage.path("bank_track");
  const SidecarTexts texts{readMember(carriage.paths[kSidecar]), carriage.names[kSidecar],
                           inputs.manifest_json, manifestPath, dir};
  readSidecar(texts, inputs);
  return inputs;
}

}  // namespace ko::tessera
