// libFuzzer target for the teeth members' cross-checks: the input is a sidecar, a NUL byte and a
// manifest. Either every field comes out coherent (counts match, track_order a permutation, a positive
// patch, a pixel format) or one sentence is thrown.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "tessera/attach_inputs.h"

namespace {

void require(bool holds, const char* invariant) {
  if (holds) return;
  std::fprintf(stderr, "members invariant broken: %s\n", invariant);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const size_t split = input.find('\0');
  ko::tessera::SidecarTexts texts;
  texts.sidecar = input.substr(0, split);
  texts.manifest = split == std::string::npos ? "{}" : input.substr(split + 1);
  texts.sidecarLabel = "tessera_bank.v1.json";
  texts.manifestPath = "manifest.json";
  texts.bundleDir = "bundle";
  ko::tessera::TesseraAttachInputs inputs;
  try {
    ko::tessera::readSidecar(texts, inputs);
  } catch (const std::runtime_error&) {
    return 0;
  }
  const size_t n = static_cast<size_t>(inputs.n_donors);
  require(inputs.n_donors >= 1 && inputs.n_donors <= ko::tessera::kMaxDonors, "n_donors within 1..1024");
  require(inputs.track_order.size() == n && inputs.cent.size() == 2 * n && inputs.aperture.size() == n,
          "one entry per donor");
  std::vector<bool> seen(n, false);
  for (int32_t slot : inputs.track_order) {
    require(slot >= 0 && static_cast<size_t>(slot) < n && !seen[static_cast<size_t>(slot)], "a permutation");
    seen[static_cast<size_t>(slot)] = true;
  }
  require(inputs.band_w >= 1 && inputs.band_h >= 1, "a positive stored patch");
  require(!inputs.bank_pix_fmt.empty(), "a pixel format");
  std::vector<uint8_t> track(static_cast<size_t>(inputs.bandBytes()) > (1u << 24) ? 0 : inputs.bandBytes());
  if (!track.empty()) {
    std::vector<uint8_t> donor(track.size());
    ko::tessera::reorderTrackToDonor(inputs, track.data(), donor.data());
  }
  return 0;
}
