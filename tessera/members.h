// Loading a bundle's four teeth members into one cross-checked record.
#pragma once

#include <string>

#include "tessera/attach_inputs.h"
#include "tessera/carriage.h"

namespace ko::tessera {

// Refuses a bundle missing any member (MissingTesseraMember), one without a manifest, a member that
// cannot be read, and every sidecar rule; the first failure throws its sentence.
TesseraAttachInputs loadTesseraMembers(const std::string& bundle);

}  // namespace ko::tessera
