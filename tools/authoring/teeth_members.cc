#include "tools/authoring/teeth_members.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include "bundle/bundle.h"
#include "tools/authoring/bank_track.h"
#include "tools/authoring/head_archive.h"

namespace ko::authoring {
namespace {

// A scratch directory for the encoder, which writes to a path; removed on every way out.
class ScratchDir {
 public:
  ScratchDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "ko_bank_XXXXXX").string();
    if (!mkdtemp(pattern.data()))
      throw std::runtime_error("cannot create a scratch directory for the bank track");
    path_ = pattern;
  }
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

int32_t bandSide(int32_t first, int32_t last, int32_t margin) {
  return last - first + 2 * margin;
}

}  // namespace

std::string bankTrackBytes(const BankSidecarSpec& bank) {
  const tessera::GeometryStamp& s = bank.stamp;
  const int w = bandSide(s.band_c0, s.band_c1, s.shift_margin),
            h = bandSide(s.band_r0, s.band_r1, s.shift_margin);
  const std::vector<RgbPatch> donors = paintedDonors(bank.nDonors, w, h);
  std::vector<RgbPatch> track;
  for (int32_t slot : bank.trackOrder) track.push_back(donors.at(static_cast<size_t>(slot)));
  const ScratchDir scratch;
  const std::string path = scratch.file("bank.mp4");
  writeBankTrack(path, track, w, h, bank.pixFmt.empty() ? "rgb24" : bank.pixFmt);
  return readFile(path);
}

std::vector<Member> teethMembers(const TeethMembersSpec& spec) {
  return {{"tessera_bank.v1.mp4", bankTrackBytes(spec.bank)},
          {"tessera_bank.v1.json", bankSidecarJson(spec.bank)},
          {"tessera_head.v1.pt", headArchive(blendHeadTensors(spec.synthesis, spec.seed))},
          {"tessera_head.v1.json", headConfigJson()}};
}

std::string tesseraBlockJson(const TeethMembersSpec& spec) {
  return R"({"members": {"bank_track": "tessera_bank.v1.mp4", "bank_sidecar": "tessera_bank.v1.json", )"
         R"("head_weights": "tessera_head.v1.pt", "head_config": "tessera_head.v1.json"}, "planes": ["live", "offline"], )"
         R"("geometry": )" +
         stampJson(spec.bank.stamp) + R"(, "bank_container": "mp4", "bank_packing": "rgb24_frames"})";
}

void addTeethMembers(BundleBuilder& bundle, const TeethMembersSpec& spec) {
  bundle.set("tessera", tesseraBlockJson(spec));
  for (Member& member : teethMembers(spec)) bundle.member(member.first, std::move(member.second));
}

}  // namespace ko::authoring
