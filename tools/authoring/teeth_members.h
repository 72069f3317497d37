// All four teeth members for a bundle: a painted donor bank track, its sidecar, a blend head archive
// and its configuration, with the manifest's "tessera" block that names them.
#pragma once

#include <string>
#include <vector>

#include "tools/authoring/bank_sidecar.h"
#include "tools/authoring/bundle_builder.h"

namespace ko::authoring {

struct TeethMembersSpec {
  BankSidecarSpec bank = BankSidecarSpec::withDonors(4);  // its pixFmt is the track's too
  bool synthesis = true;                                  // BlendHead(16); false writes BlendHead8(16)
  uint32_t seed = 5;
};

// The track's bytes: paintedDonors in donor order, stored in the sidecar's track order.
std::string bankTrackBytes(const BankSidecarSpec& bank);

// The four members under their default names.
std::vector<Member> teethMembers(const TeethMembersSpec& spec);

// The manifest's "tessera" value: the members, the geometry and the bank's pixel format.
std::string tesseraBlockJson(const TeethMembersSpec& spec);

// Adds the four members and the "tessera" block to a bundle.
void addTeethMembers(BundleBuilder& bundle, const TeethMembersSpec& spec = {});

}  // namespace ko::authoring
