#include "tessera/head_weights.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tessera/pickle.h"
#include "tessera/serve_config.h"
#include "tests/support/failure_text.h"
#include "tools/authoring/head_archive.h"

namespace ko::tessera {
namespace {

using authoring::HeadTensor;
using authoring::ZipMember;
using test::failureText;
using namespace std::string_literals;

const std::string kDash = " \xe2\x80\x94 ";

std::string withPickle(const std::string& pickle, const std::vector<HeadTensor>& tensors) {
  std::vector<ZipMember> members = authoring::headArchiveMembers(tensors);
  members[0].data = pickle;
  return authoring::zipArchive(members);
}

// BINUNICODE of a text.
std::string text(const std::string& s) {
  std::string op = "X";
  for (int k = 0; k < 4; ++k) op.push_back(static_cast<char>(s.size() >> (8 * k) & 0xff));
  return op + s;
}

// A protocol-2 prefix followed by ops, ending in STOP.
std::string pickleOf(const std::string& ops) {
  return std::string("\x80\x02", 2) + ops + ".";
}

TEST(HeadWeights, LoadsBothArchitecturesFromWhatTheWriterWrites) {
  for (bool synthesis : {true, false}) {
    const std::vector<HeadTensor> tensors = authoring::blendHeadTensors(synthesis, 7);
    const HeadWeights weights =
        loadHeadPt(authoring::zipArchive(authoring::headArchiveMembers(tensors), "a comment"));
    EXPECT_EQ(weights.params(), synthesis ? 4082u : 3489u);
    EXPECT_EQ(weights.cand0_w, tensors[0].values);
    EXPECT_EQ(weights.cand4_b, tensors[5].values);
    EXPECT_EQ(weights.syn2_w, synthesis ? tensors[8].values : std::vector<float>{});
    EXPECT_FLOAT_EQ(weights.envelope, 12.0f / 255.0f);
  }
  // Read to the end of the data without STOP.
  std::vector<HeadTensor> tensors = authoring::blendHeadTensors(false, 3);
  std::string pickle = authoring::stateDictPickle(tensors);
  pickle.pop_back();
  EXPECT_EQ(loadHeadPt(withPickle(pickle, tensors)).params(), 3489u);
}

TEST(HeadWeights, RefusesEveryMalformedArchivePickleAndTensor) {
  const std::vector<HeadTensor> full = authoring::blendHeadTensors(true, 1);
  const std::string good = authoring::headArchive(full);
  std::vector<HeadTensor> noSynBias = full;
  noSynBias.pop_back();
  std::vector<HeadTensor> narrow = full;
  narrow[0].shape = {16, 6, 3, 3};
  std::vector<HeadTensor> twice = full;
  twice.push_back(full[1]);
  std::vector<ZipMember> deflated = authoring::headArchiveMembers(full);
  deflated.back().method = 8;
  std::vector<ZipMember> noStorage = authoring::headArchiveMembers(full);
  noStorage.erase(noStorage.begin() + 2);
  std::vector<ZipMember> shortStorage = authoring::headArchiveMembers(full);
  shortStorage[2].data.resize(16);
  std::vector<ZipMember> noPickle = authoring::headArchiveMembers(full);
  noPickle[0].name = "archive/data.pk";
  std::string farDirectory = good;
  farDirectory[farDirectory.size() - 6] = '\x7f';  // central directory offset beyond the archive
  std::string farLocal = authoring::zipArchive({{"a/data.pkl", "."}});
  farLocal[farLocal.size() - 22 - 56 + 42] = '\x7f';  // the only entry's local header offset
  std::string longEntry = authoring::zipArchive({{"a/data.pkl", "."}});
  longEntry[longEntry.size() - 22 - 56 + 27] = '\x7f';  // the top byte of its uncompressed size

  const std::string storage =
      "(" + text("storage") + "ctorch\nDoubleStorage\n" + text("0") + text("cpu") + "K\x01tQ";
  const std::string rebuild = "ctorch._utils\n_rebuild_tensor_v2\n";
  const struct Case {
    std::string archive;
    std::string text;
  } cases[] = {
      {"PK", "teeth: head .pt is not a zip"},
      {std::string(40, '\0'), "teeth: head .pt has no zip EOCD"},
      {authoring::zipArchive({}), "teeth: head .pt has no data.pkl"},
      {authoring::zipArchive(noPickle), "teeth: head .pt has no data.pkl"},
      {farDirectory, "teeth: head .pt central directory is malformed"},
      {farLocal, "teeth: head .pt local header out of range"},
      {longEntry, "teeth: head .pt entry out of range"},
      {authoring::zipArchive(deflated), "teeth: head .pt entry is DEFLATEd; torch writes ZIP_STORED" + kDash +
                                            "refusing to guess at a compressed member"},
      {authoring::headArchive(noSynBias), "teeth: head .pt lacks 'syn.2.bias'"},
      {authoring::headArchive(narrow),
       "teeth: head 'cand.0.weight' has shape [16,6,3,3,]" + kDash + "not the BlendHead(16) arch"},
      {authoring::headArchive(twice), "teeth: head .pt names 'cand.0.bias' 2 times" + kDash + "ambiguous"},
      {authoring::zipArchive(noStorage), "teeth: head storage 0 missing"},
      {authoring::zipArchive(shortStorage), "teeth: head storage 0 too small"},
      {withPickle(pickleOf("}"), full), "teeth: head .pt state_dict is empty"},
      {withPickle(pickleOf("cos\nsystem\n)R"), full),
       "teeth: head .pt calls os system" + kDash + "this reader refuses code it does not model"},
      {withPickle(pickleOf(storage), full),
       "teeth: head .pt storage is torch DoubleStorage, not torch FloatStorage" + kDash +
           "refusing to reinterpret it"},
      {withPickle(pickleOf("(" + text("disk") + "K\x01K\x02K\x03K\x04tQ"), full),
       "teeth: unexpected persistent id in head .pt"},
      {withPickle(pickleOf(rebuild + "K\x01K\x02\x86R"), full), "teeth: malformed _rebuild_tensor_v2"},
      {withPickle(pickleOf("]"), full), "teeth: unsupported pickle opcode 0x5d in head .pt"},
      {withPickle(std::string("X\xff\xff\xff\x7f", 5), full), "teeth: pickle truncated"},
      {withPickle("cos\nsys", full), "teeth: pickle truncated"},
      {withPickle(pickleOf("h\x00"s), full), "teeth: pickle BINGET out of range"},
      {withPickle(pickleOf("Nq\x00j\x01\x00\x00\x00"s), full), "teeth: pickle LONG_BINGET out of range"},
      {withPickle(pickleOf(std::string("Nr\xff\xff\xff\xff", 6)), full),
       "teeth: pickle LONG_BINPUT index is negative"},
      {withPickle(pickleOf(std::string("Nr\xff\xff\xff\x7f", 6)), full),
       "teeth: pickle memo index exceeds the pickle"},
      {withPickle(pickleOf("s"), full), "teeth: pickle pops a value it never pushed"},
      {withPickle(pickleOf("Nt"), full), "teeth: pickle closes a MARK it never opened"},
      {withPickle(pickleOf("(N\x86t"), full), "teeth: pickle pops a value it never pushed"},
      {withPickle(pickleOf("NN(\x86t"), full),
       "teeth: pickle closes a MARK whose values were already taken"},
      {withPickle(pickleOf("N" + std::string(kMaxPickleNesting + 1, '\x85')), full),
       "teeth: pickle nests tuples too deeply"},
  };
  for (const Case& c : cases) EXPECT_EQ(failureText([&] { loadHeadPt(c.archive); }), c.text) << c.text;
}

TEST(ServeConfig, ReadsTheSixKnobsAndRefusesWhatIsNotTheV1Schema) {
  const ServeConfig config = ServeConfig::fromHeadMemberJson(
      R"(  {"retrieval": {"kshort": 300.9, "aperture_tol": 0.25, "cut": "x", "K": 32},
            "temporal": {"hysteresis": 4, "lookahead": 2}, "decode": {"envelope_clamp_255": 12.0000005}})");
  EXPECT_EQ(config.kshort, 300);
  EXPECT_EQ(config.aperture_tol, 0.25);
  EXPECT_EQ(config.cut, 0);  // a non-number reads as 0
  EXPECT_EQ(config.K, 32);
  EXPECT_EQ(config.hysteresis, 4);
  EXPECT_EQ(config.lookahead, 2);
  EXPECT_EQ(config.min_teeth_px, 32);
  EXPECT_TRUE(config.use_lookahead);
  EXPECT_EQ(ServeConfig::fromHeadMemberJson(authoring::headConfigJson()).kshort, 512);

  const std::string blocks =
      R"("retrieval": {"kshort": 1, "aperture_tol": 1, "cut": 1, "K": 1}, "temporal": {"hysteresis": 1, "lookahead": 1})";
  const struct Case {
    std::string json;
    std::string text;
  } cases[] = {
      {R"({"retrieval": {}, "temporal": []})",
       "teeth: tessera_head.v1 config lacks the retrieval/temporal blocks of the v1 schema" + kDash +
           "refusing to serve defaults (W3-01)"},
      {R"({"retrieval": {"kshort": 1, "aperture_tol": 1, "cut": 1}, "temporal": {}})",
       "teeth: member JSON lacks key 'K'"},
      {"{" + blocks + R"(, "decode": {"envelope_clamp_255": 12.01}})",
       "teeth: member envelope_clamp_255 != the envelope of record (12/255)" + kDash +
           "the envelope is a gated quantity"},
      {"{" + blocks + R"(, "decode": {}})", test::kNoFailure},
      {"[", "teeth: JSON truncated"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(failureText([&] { ServeConfig::fromHeadMemberJson(c.json); }), c.text);
}

}  // namespace
}  // namespace ko::tessera
