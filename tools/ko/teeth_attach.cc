#include "tools/ko/teeth_attach.h"

#include <cstdio>
#include <memory>
#include <optional>
#include <vector>

#include "tools/ko/bundle_access.h"

namespace ko::cli {
namespace {

bool declaresTeeth(const std::string& dir) {
  const Carriage carriage(ko_tessera_carriage_open(dir.c_str()));
  return carriage && ko_tessera_carriage_declared(carriage.get()) == 1;
}

}  // namespace

TeethArming attachBundleTeeth(ko_utt* utt, const std::string& dir) {
  char err[1024] = "";
  const Members members(ko_tessera_members_open(dir.c_str(), err, sizeof err));
  if (!members) return {err, 0};
  ko_tessera_members* m = members.get();
  std::vector<uint8_t> bank(ko_tessera_members_band_bytes(m));
  if (ko_tessera_members_decode_bank(m, bank.data(), bank.size(), err, sizeof err) != 0) return {err, 0};
  if (ko_utt_tessera_attach(utt, bank.data(), ko_tessera_members_n_donors(m), ko_tessera_members_cent(m),
                            ko_tessera_members_c_canon(m), ko_tessera_members_aperture(m),
                            ko_tessera_members_stamp(m), ko_tessera_members_head_pt(m),
                            ko_tessera_members_head_pt_len(m), ko_tessera_members_head_json(m),
                            ko_tessera_members_manifest_json(m), err, sizeof err) != 0) {
    return {err, 0};
  }
  return {"", ko_tessera_members_n_donors(m)};
}

bool armTeeth(ko_utt* utt, const std::string& bundle, TeethChoice choice) {
  if (choice == TeethChoice::Off) return true;
  const std::optional<std::string> dir = bundleDirectory(bundle);
  if (!dir) return choice != TeethChoice::Required;
  if (choice == TeethChoice::Auto && !declaresTeeth(*dir)) return true;
  const TeethArming arming = attachBundleTeeth(utt, *dir);
  if (arming.refusal.empty()) {
    char geometry[256] = "";
    ko_utt_tessera_geometry(utt, geometry, sizeof geometry);
    std::printf("teeth      armed: %d donors, %s\n", arming.donors, geometry);
    return true;
  }
  std::fprintf(stderr, "ko speak: teeth refused: %s%s\n", arming.refusal.c_str(),
               choice == TeethChoice::Required ? "" : " (speaking without them)");
  return choice != TeethChoice::Required;
}

void printTeethSummary(ko_utt* utt) {
  uint64_t applied = 0;
  uint64_t refused = 0;
  char text[512] = "";
  const int status = ko_utt_tessera_stats(utt, &applied, &refused, text, sizeof text);
  if (status == 0) return;
  std::printf("  teeth   applied to %llu frames", static_cast<unsigned long long>(applied));
  if (status < 0) std::printf(", then disarmed: %s", text);
  std::printf("\n");
}

}  // namespace ko::cli
