#include "tessera/members.h"

#include <gtest/gtest.h>

#include <functional>
#include <numeric>
#include <string>
#include <vector>

#include "bundle/bundle.h"
#include "ko/ko.h"
#include "tessera/bank_track.h"
#include "tests/support/failure_text.h"
#include "tests/support/identity_builder.h"
#include "tests/support/temp_dir.h"
#include "tools/authoring/bank_sidecar.h"
#include "tools/authoring/bank_track.h"
#include "tools/authoring/bundle_builder.h"

namespace ko::tessera {
namespace {

using authoring::BankSidecarSpec;
using test::failureText;

const std::string kRuling =
    ". ONE predicate (owner ruling 2026-09-06): all four members present = ARMED on every plane; any "
    "missing = REFUSED on every plane. The borrow is a SWITCH, not a gradient \xe2\x80\x94 there is no "
    "rendering mode that proceeds without them (velmora-2 IS borrowed teeth). Re-stage the bundle with "
    "the bank builder.";

// A bundle with the four teeth members; each field changes one thing about it.
struct TeethBundle {
  BankSidecarSpec bank;
  std::string tessera;            // the manifest's raw "tessera" value; "" leaves the key out
  std::string sidecarText;        // replaces the written sidecar when set
  std::vector<std::string> omit;  // member file names not written
  std::string manifestText;       // replaces the manifest when set
};

class TesseraMembers : public ::testing::Test {
 protected:
  std::string write(const TeethBundle& spec) {
    authoring::BundleBuilder builder;
    if (!spec.tessera.empty()) builder.set("tessera", spec.tessera);
    if (!spec.manifestText.empty()) builder.manifestText(spec.manifestText);
    const std::pair<std::string, std::string> members[] = {
        {"tessera_bank.v1.mp4", "track"},
        {"tessera_bank.v1.json",
         spec.sidecarText.empty() ? authoring::bankSidecarJson(spec.bank) : spec.sidecarText},
        {"tessera_head.v1.pt", std::string("PK\x05\x06", 4)},
        {"tessera_head.v1.json", "{\"retrieval\": {}}"}};
    for (const auto& [name, bytes] : members) {
      if (std::find(spec.omit.begin(), spec.omit.end(), name) == spec.omit.end()) builder.member(name, bytes);
    }
    const std::string dir = tmp_ / ("b" + std::to_string(++written_));
    builder.writeDirectory(dir);
    return dir;
  }
  std::string loadFailure(const TeethBundle& spec) {
    const std::string dir = write(spec);
    return failureText([&] { loadTesseraMembers(dir); });
  }

  test::TempDir tmp_;
  int written_ = 0;
};

TEST_F(TesseraMembers, LoadsEveryFieldAndTheCCallsServeTheSameRecord) {
  TeethBundle spec;
  spec.tessera = R"({"bank_codec": "hevc", "planes": ["live", 3, "offline"]})";
  const std::string dir = write(spec);
  const TesseraAttachInputs inputs = loadTesseraMembers(dir);
  EXPECT_EQ(inputs.n_donors, 2);
  EXPECT_EQ(inputs.track_order, (std::vector<int32_t>{1, 0}));
  EXPECT_EQ(inputs.cent, spec.bank.cent);
  EXPECT_EQ(inputs.aperture, spec.bank.aperture);
  EXPECT_EQ(inputs.stamp.text(), spec.bank.stamp.text());
  EXPECT_EQ(inputs.band_w, 28);
  EXPECT_EQ(inputs.band_h, 16);
  EXPECT_EQ(inputs.bank_codec, "hevc");  // the manifest's value wins over the sidecar's
  EXPECT_EQ(inputs.bank_pix_fmt, "rgb24");
  EXPECT_EQ(inputs.bank_container, "mp4");
  EXPECT_EQ(inputs.bank_packing, "rgb24_frames");
  EXPECT_EQ(inputs.head_json, "{\"retrieval\": {}}");
  EXPECT_EQ(inputs.bank_track_path, dir + "/tessera_bank.v1.mp4");

  char err[64] = "stale";
  ko_tessera_members* members = ko_tessera_members_open(dir.c_str(), err, sizeof err);
  ASSERT_NE(members, nullptr) << err;
  EXPECT_STREQ(err, "");
  EXPECT_EQ(ko_tessera_members_n_donors(members), inputs.n_donors);
  EXPECT_EQ(std::vector<double>(ko_tessera_members_cent(members), ko_tessera_members_cent(members) + 4),
            inputs.cent);
  EXPECT_EQ(ko_tessera_members_aperture(members)[1], inputs.aperture[1]);
  EXPECT_EQ(ko_tessera_members_c_canon(members)[1], inputs.c_canon[1]);
  EXPECT_EQ(ko_tessera_members_stamp(members)[11], inputs.stamp.shift_margin);
  EXPECT_EQ(ko_tessera_members_stamp(members)[0], inputs.stamp.canvas_w);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(ko_tessera_members_head_pt(members)),
                        ko_tessera_members_head_pt_len(members)),
            inputs.head_pt);
  EXPECT_EQ(ko_tessera_members_manifest_json(members), inputs.manifest_json);
  EXPECT_STREQ(ko_tessera_members_bank_codec(members), "hevc");
  EXPECT_STREQ(ko_tessera_members_bank_track_path(members), inputs.bank_track_path.c_str());
  EXPECT_EQ(ko_tessera_members_band_bytes(members), 2u * 16 * 28 * 3);

  std::vector<uint8_t> donor(inputs.bandBytes());
  EXPECT_EQ(ko_tessera_members_reorder(members, nullptr, donor.data(), err, sizeof err), 1);
  EXPECT_STREQ(err, "ko_tessera_members_reorder: null argument");
  ko_tessera_members_close(members);
  // The refusal is cut to the caller's buffer.
  char tiny[5];
  EXPECT_EQ(ko_tessera_members_open(nullptr, tiny, sizeof tiny), nullptr);
  EXPECT_STREQ(tiny, "ko_t");
}

TEST_F(TesseraMembers, TheCarriageNamesWhatIsMissingAndHonoursRenamedMembers) {
  struct Case {
    TeethBundle spec;
    std::vector<std::string> missing;
    std::string refusal;  // "" when complete
  };
  TeethBundle threeOfFour;
  threeOfFour.omit = {"tessera_head.v1.pt"};
  TeethBundle declared = threeOfFour;
  declared.tessera = R"({"members": {"bank_track": ""}})";
  TeethBundle renamed;
  renamed.tessera = R"({"members": {"bank_sidecar": "other.json"}})";
  TeethBundle unreadable;
  unreadable.manifestText = "{\"tessera\": [";
  unreadable.omit = {"tessera_bank.v1.mp4", "tessera_head.v1.json"};
  const Case cases[] = {
      {threeOfFour,
       {"head_weights"},
       "missing teeth member(s): head_weights (tessera_head.v1.pt) \xe2\x80\x94 carries 3 of 4" + kRuling},
      {declared,
       {"head_weights"},
       "missing teeth member(s): head_weights (tessera_head.v1.pt) \xe2\x80\x94 carries 3 of 4 and "
       "declares a manifest.tessera block the members do not keep" +
           kRuling},
      {renamed,
       {"bank_sidecar"},
       "missing teeth member(s): bank_sidecar (other.json) \xe2\x80\x94 carries 3 of 4 and declares a "
       "manifest.tessera block the members do not keep" +
           kRuling},
      {unreadable,
       {"bank_track", "head_config"},
       "missing teeth member(s): bank_track (tessera_bank.v1.mp4), head_config (tessera_head.v1.json) "
       "\xe2\x80\x94 carries 2 of 4" +
           kRuling},
      {TeethBundle{}, {}, ""},
  };
  for (const Case& c : cases) {
    const std::string dir = write(c.spec);
    const TesseraCarriage carriage = tesseraCarriage(dir);
    EXPECT_EQ(carriage.missing, c.missing);
    EXPECT_EQ(carriage.complete, c.missing.empty());
    ko_tessera_carriage* handle = ko_tessera_carriage_open(dir.c_str());
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(ko_tessera_carriage_complete(handle), carriage.complete ? 1 : 0);
    EXPECT_EQ(ko_tessera_carriage_declared(handle), carriage.declared ? 1 : 0);
    EXPECT_EQ(ko_tessera_carriage_missing_count(handle), static_cast<int>(c.missing.size()));
    EXPECT_EQ(ko_tessera_carriage_missing(handle, static_cast<int>(c.missing.size())), nullptr);
    EXPECT_EQ(ko_tessera_carriage_path(handle, "bank_sidecar"), carriage.path("bank_sidecar"));
    EXPECT_STREQ(ko_tessera_carriage_path(handle, "teeth"), "");
    ko_tessera_carriage_close(handle);
    if (c.refusal.empty()) continue;
    try {
      requireTesseraMembers(carriage);
      ADD_FAILURE() << "an incomplete carriage passed";
    } catch (const MissingTesseraMember& refusal) {
      EXPECT_EQ(refusal.what(), c.refusal);
      EXPECT_EQ(refusal.missing, c.missing);
    }
    EXPECT_EQ(failureText([&] { loadTesseraMembers(dir); }), c.refusal);
  }
  EXPECT_EQ(failureText([] { TesseraCarriage().path("teeth"); }), "teeth: no such member slot 'teeth'");
  EXPECT_STREQ(ko_tessera_slot_key(3), "head_config");
  EXPECT_EQ(ko_tessera_slot_key(4), nullptr);
  ko_tessera_carriage* absent = ko_tessera_carriage_open((tmp_ / "absent").c_str());
  EXPECT_EQ(ko_tessera_carriage_missing_count(absent), 4);
  ko_tessera_carriage_close(absent);
}

TEST_F(TesseraMembers, EverySidecarAndManifestRuleRefusesInItsOwnWords) {
  const std::string label = "tessera_bank.v1.json";
  const auto bank = [](const std::function<void(BankSidecarSpec&)>& change) {
    TeethBundle spec;
    change(spec.bank);
    return spec;
  };
  TeethBundle disagreeing;
  GeometryStamp other = BankSidecarSpec::smallStamp();
  other.pad = 5;
  disagreeing.tessera = "{\"geometry\": " + authoring::stampJson(other) + "}";
  TeethBundle noGeometryKey;
  noGeometryKey.sidecarText = R"({"format": "tessera_bank.v1", "geometry": {"canvas_w": 64}})";
  TeethBundle badJson;
  badJson.sidecarText = "{\"format\": [";
  TeethBundle notArrays;
  notArrays.sidecarText = authoring::bankSidecarJson(BankSidecarSpec{});
  notArrays.sidecarText.replace(notArrays.sidecarText.find("\"cent\": ["), 9, "\"cent\": 3, \"x\": [");
  TeethBundle noPixFmt = bank([](BankSidecarSpec& b) { b.pixFmt = ""; });
  TeethBundle manifestPixFmt = noPixFmt;
  manifestPixFmt.tessera = R"({"bank_pix_fmt": "rgb24"})";
  const std::string dirHint = "<dir>";
  const struct Case {
    TeethBundle spec;
    std::string text;  // <dir> stands for the bundle directory
  } cases[] = {
      {bank([](BankSidecarSpec& b) { b.format = "tessera_bank.v2"; }),
       label + " declares format 'tessera_bank.v2', not 'tessera_bank.v1' \xe2\x80\x94 this reader "
               "does not know that generation and will not guess at its keys."},
      {badJson, "teeth: " + label + " is not readable JSON: teeth: JSON truncated"},
      {noGeometryKey, "teeth: " + label + ".geometry lacks numeric 'canvas_h'"},
      {disagreeing,
       "teeth geometry DISAGREES between the manifest and the bank sidecar \xe2\x80\x94 manifest " +
           other.text() + " vs " + label + " " + BankSidecarSpec::smallStamp().text() +
           "; refusing to place a window on a rectangle the two halves of the bundle do not agree on."},
      {bank([](BankSidecarSpec& b) { b.stamp.band_c1 = b.stamp.band_c0 - 2 * b.stamp.shift_margin; }),
       "teeth stamp yields a non-positive stored patch (0x16)"},
      {bank([](BankSidecarSpec& b) { b = BankSidecarSpec::withDonors(0); }), label + " says n_donors=0"},
      {bank([](BankSidecarSpec& b) { b = BankSidecarSpec::withDonors(1025); }),
       label + " carries n_donors=1025, over the owner's cap of 1024 (ruling 2026-08-28). This reader "
               "REFUSES rather than capping: the selector is the bank's BUILD-time cap selector, and a "
               "second one here would change which donors reach the mouth while every count-based check "
               "stayed green. Rebuild the bank."},
      {notArrays, label + " lacks one of track_order/cent/aperture/c_canon as an array"},
      {bank([](BankSidecarSpec& b) { b.aperture.push_back(1.0); }),
       label + " says n_donors=2 but carries track_order=2, cent=2, aperture=3 \xe2\x80\x94 a count "
               "mismatch silently mis-orders the donors."},
      {bank([](BankSidecarSpec& b) {
         b.trackOrder = {0, 3};
       }),
       label + " track_order[1]=3 is outside [0,2)"},
      {bank([](BankSidecarSpec& b) {
         b = BankSidecarSpec::withDonors(3), b.trackOrder = {1, 1, 0};
       }),
       label + " track_order is not a permutation (reference 1 appears twice) \xe2\x80\x94 the inverse "
               "permutation would leave a reference slot never written and the pass would blend "
               "uninitialised memory into a real mouth."},
      {noPixFmt,
       dirHint + ": neither manifest.tessera.bank_pix_fmt nor " + label +
           ".codec.pix_fmt states the reference track's pixel format. A decoder handed no format negotiates "
           "one, and the one it settles on is 4:2:0 \xe2\x80\x94 lossy chroma on reference pixels IS the "
           "borrow degrading. Refusing rather than letting it guess."},
      {manifestPixFmt, test::kNoFailure},
      {bank([](BankSidecarSpec& b) { b = BankSidecarSpec::withDonors(1024); }), test::kNoFailure},
      {bank([](BankSidecarSpec& b) { b.stamp.band_r1 = b.stamp.band_r0 - 1; }),
       test::kNoFailure},  // margin keeps 3 rows
  };
  for (const Case& c : cases) {
    const std::string dir = write(c.spec);
    std::string expected = c.text;
    if (expected.rfind(dirHint, 0) == 0) expected.replace(0, dirHint.size(), dir);
    EXPECT_EQ(failureText([&] { loadTesseraMembers(dir); }), expected);
  }
  const std::string noManifest = write(TeethBundle{});
  std::remove((noManifest + "/manifest.json").c_str());
  EXPECT_EQ(
      failureText([&] { loadTesseraMembers(noManifest); }),
      noManifest +
          " carries no manifest.json or meta.json \xe2\x80\x94 the compose descriptor (unified.pi) the pass "
          "places its window by lives there, and placing a borrow window without it is guessing.");
}

TEST_F(TesseraMembers, ABundleBuiltWithTeethArmsAndItsTrackDecodesToThePaintedDonors) {
  const std::string dir = tmp_ / "identity";
  test::IdentityBuilder({.teeth = true}).writeDirectory(dir);
  const TesseraAttachInputs inputs = loadTesseraMembers(dir);
  const std::string track = readFile(inputs.bank_track_path);
  const auto* bytes = reinterpret_cast<const uint8_t*>(track.data());
  std::vector<uint8_t> painted;
  for (const authoring::RgbPatch& patch :
       authoring::paintedDonors(inputs.n_donors, inputs.band_w, inputs.band_h)) {
    painted.insert(painted.end(), patch.begin(), patch.end());
  }
  // A host decoding in track order (the builder stores the donors reversed) and reordering through
  // the C call gets the painted bank.
  std::vector<int32_t> trackOrder(static_cast<size_t>(inputs.n_donors));
  std::iota(trackOrder.begin(), trackOrder.end(), 0);
  const std::vector<uint8_t> asStored =
      decodeBankTrack(bytes, track.size(), inputs.n_donors, inputs.band_h, inputs.band_w, trackOrder);
  char err[128];
  ko_tessera_members* members = ko_tessera_members_open(dir.c_str(), err, sizeof err);
  ASSERT_NE(members, nullptr) << err;
  std::vector<uint8_t> reordered(ko_tessera_members_band_bytes(members));
  EXPECT_EQ(ko_tessera_members_reorder(members, asStored.data(), reordered.data(), err, sizeof err), 0)
      << err;
  EXPECT_EQ(reordered, painted);
  // The library's own decode goes straight to donor order, into a buffer that must hold the bank.
  std::vector<uint8_t> decoded(reordered.size());
  EXPECT_EQ(ko_tessera_members_decode_bank(members, decoded.data(), decoded.size(), err, sizeof err), 0)
      << err;
  EXPECT_EQ(decoded, painted);
  EXPECT_EQ(ko_tessera_members_decode_bank(members, decoded.data(), decoded.size() - 1, err, sizeof err), 1);
  EXPECT_EQ(std::string(err), "ko_tessera_members_decode_bank: the buffer holds " +
                                  std::to_string(decoded.size() - 1) + " bytes, the bank needs " +
                                  std::to_string(decoded.size()));
  ko_tessera_members_close(members);
}

}  // namespace
}  // namespace ko::tessera
