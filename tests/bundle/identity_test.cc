#include "bundle/identity.h"

#include <gtest/gtest.h>

#include <cstring>

#include "bundle/mapped_file.h"
#include "tests/support/failure_text.h"
#include "tests/support/identity_builder.h"
#include "tests/support/temp_dir.h"

namespace ko {
namespace {

using test::failureText;
using test::IdentityBuilder;
using test::IdentityRecipe;
using test::PriorMember;

constexpr size_t kPriorRowBytes = 32 * 32 * 6;

class IdentityLoad : public ::testing::Test {
 protected:
  Manifest write(const IdentityBuilder& identity) {
    dir_ = tmp_ / ("bundle" + std::to_string(++count_));
    identity.writeDirectory(dir_);
    return loadManifest(dir_);
  }
  std::string failure(const IdentityBuilder& identity) {
    const Manifest manifest = write(identity);
    return failureText([&] { Identity{manifest}; });
  }

  test::TempDir tmp_;
  std::string dir_;
  int count_ = 0;
};

bool sameBytes(const void* got, const std::string& payload, size_t offset, size_t bytes) {
  return std::memcmp(got, payload.data() + offset, bytes) == 0;
}

// Every row accessor lands on its own row of the member that was written.
void expectRowsOf(const Identity& identity, const IdentityBuilder& written) {
  const std::vector<float> M = written.authoredM();
  for (int si = 0; si < identity.NT(); ++si) {
    const size_t row = static_cast<size_t>(si);
    EXPECT_TRUE(sameBytes(identity.P(si), written.payload("P.f16"), row * kPriorRowBytes, kPriorRowBytes));
    EXPECT_TRUE(sameBytes(identity.pooled64(si), written.payload("pooled64.f16"), row * kPooled64RowBytes,
                          kPooled64RowBytes));
    EXPECT_TRUE(std::equal(identity.M(si), identity.M(si) + 6, M.begin() + si * 6));
  }
}

TEST_F(IdentityLoad, MapsEveryRowInPlace) {
  const IdentityBuilder written;
  const Identity identity(write(written));
  EXPECT_EQ(identity.NT(), 4);
  EXPECT_EQ(identity.crop(), 32);
  expectRowsOf(identity, written);
  identity.walkP(2);
  EXPECT_EQ(identity.priorBackend(), "mmap P.f16");
  EXPECT_EQ(identity.priorResidentBytes(), 0u);
  EXPECT_EQ(identity.priorSeeks(), 0u);
}

TEST_F(IdentityLoad, ReadsCurrentMemberNames) {
  const IdentityBuilder written(IdentityRecipe{.currentNames = true});
  ASSERT_EQ(written.stored("P.f16"), "source_frames.f16");
  const Identity identity(write(written));
  expectRowsOf(identity, written);
  EXPECT_EQ(identity.priorBackend(), "mmap P.f16");
}

TEST_F(IdentityLoad, OpensFromAContainer) {
  const IdentityBuilder written;
  written.writeContainer(tmp_ / "packed.imx");
  const Identity identity(loadManifest(tmp_ / "packed.imx"));
  expectRowsOf(identity, written);
}

TEST_F(IdentityLoad, SynthesisedFeaturesAloneNeedNoPrior) {
  const IdentityBuilder written(IdentityRecipe{.prior = PriorMember::FsRed});
  const Identity identity(write(written));
  EXPECT_TRUE(
      sameBytes(identity.fsRed(3), written.payload("fs_red.f16"), 3 * kFsRedRowBytes, kFsRedRowBytes));
  EXPECT_EQ(identity.priorBackend(), "none");
  EXPECT_EQ(identity.priorResidentBytes(), 0u);
  EXPECT_EQ(identity.priorSeeks(), 0u);
}

TEST_F(IdentityLoad, HalvesMAuthoredOnTwiceTheCanvas) {
  const IdentityBuilder written(IdentityRecipe{.mSrcScale = 2});
  const Identity identity(write(written));
  const std::vector<float> authored = written.authoredM();
  for (int si = 0; si < identity.NT(); ++si) {
    for (int k = 0; k < 6; ++k) EXPECT_EQ(identity.M(si)[k], authored[si * 6 + k] / 2);
  }
}

TEST_F(IdentityLoad, RefusesMembersOfTheWrongSize) {
  IdentityBuilder longPrior;
  longPrior.member("P.f16", longPrior.payload("P.f16") + "x");
  std::string refusal = failure(longPrior);
  EXPECT_EQ(refusal, "size mismatch " + dir_ + "/P.f16");
  IdentityBuilder shortM;
  shortM.member("M.f32", shortM.payload("M.f32").substr(4));
  refusal = failure(shortM);
  EXPECT_EQ(refusal, "size mismatch " + dir_ + "/M.f32");
  refusal = failure(IdentityBuilder().without("pooled64.f16"));
  EXPECT_EQ(refusal, "cannot open " + dir_ + "/pooled64.f16");
}

TEST_F(IdentityLoad, RefusesARawPriorUnderAnotherName) {
  IdentityBuilder renamed(IdentityRecipe{.prior = PriorMember::None});
  renamed.set("P_rgb", "\"P_rgb.f16\"").member("P_rgb.f16", IdentityBuilder().payload("P.f16"));
  EXPECT_EQ(
      failure(renamed),
      "this bundle's manifest names its raw warp prior 'P_rgb.f16' (P_rgb) but ko::Identity maps the "
      "welded name P.f16 and would find nothing \u2014 it maps NOTHING silently and Identity::P(si) is "
      "then an offset from a null pointer. REFUSING rather than rendering off a prior nothing will read.");
  renamed.member("P.f16", IdentityBuilder().payload("P.f16"));
  const Identity identity(write(renamed));
  EXPECT_EQ(identity.priorBackend(), "mmap P.f16");
}

TEST_F(IdentityLoad, RefusesABundleWithoutAnyPrior) {
  const IdentityRecipe none{.prior = PriorMember::None};
  EXPECT_EQ(
      failure(IdentityBuilder(none)),
      "this bundle carries neither P.f16 nor fs_red.f16, and its manifest names no P_hevc member to play "
      "one from \u2014 the renderer has no warp prior and ko::Identity would hand it a null pointer. "
      "REFUSING to create a session.");
  const std::string refusal = failure(IdentityBuilder(none).set("P_hevc", "\"P_hevc.mov\""));
  EXPECT_EQ(refusal, "this bundle's manifest names P_hevc 'P_hevc.mov' and the file is not there (" + dir_ +
                         "/P_hevc.mov) \u2014 the renderer has no warp prior. REFUSING to create a session.");
}

TEST_F(IdentityLoad, LeavesThePriorMovieClosedUntilAsked) {
  IdentityBuilder withMovie(IdentityRecipe{.prior = PriorMember::None, .currentNames = true});
  withMovie.set("P_hevc", "\"P_hevc.mov\"").member(withMovie.stored("P_hevc.mov"), "not decoded yet");
  const Identity identity(write(withMovie));
  EXPECT_EQ(identity.M(1)[0], withMovie.authoredM()[6]);
}

TEST_F(IdentityLoad, PlaysAMoviePriorRowsInPlace) {
  const IdentityBuilder written(IdentityRecipe{.prior = PriorMember::Movie});
  const Identity identity(write(written));
  const std::vector<float> M = written.authoredM();
  for (const int si : {0, 1, 2, 3, 1, 0}) {
    const std::vector<uint16_t> expected =
        test::expectedHalfPlanes(test::moviePicture(written.priorMovieRecipe(), si));
    ASSERT_EQ(std::memcmp(identity.P(si), expected.data(), kPriorRowBytes), 0) << si;
  }
  EXPECT_EQ(identity.priorSeeks(), 0u);  // steps back come from the cursor's history
  EXPECT_EQ(identity.priorBackend().rfind("hevc444/libavcodec ", 0), 0u) << identity.priorBackend();
  EXPECT_GT(identity.priorResidentBytes(), 14 * kPriorRowBytes);
  identity.walkP(2);
}

TEST_F(IdentityLoad, RefusesToPasteWithoutAStamp) {
  Manifest manifest = write(IdentityBuilder());
  manifest.M_src_h = 0;
  EXPECT_EQ(
      failureText([&] { Identity{manifest}; }),
      "ko::Identity: manifest carries no paste-space stamp (M_src_w/M_src_h) \u2014 refusing to paste M "
      "without knowing the space it was authored in");
}

TEST(MapFile, OwnsOneMappingOfTheWholeFile) {
  test::TempDir tmp;
  test::writeBytes(tmp / "m.bin", "0123456789");
  MappedFile mapped = mapFile(tmp / "m.bin", 10);
  const MappedFile moved = std::move(mapped);
  EXPECT_EQ(mapped.data(), nullptr);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(moved.data()), moved.size()), "0123456789");
  EXPECT_EQ(failureText([&] { mapFile(tmp / "m.bin", 11); }), "size mismatch " + tmp / "m.bin");
  EXPECT_EQ(failureText([&] { mapFile(tmp / "none", 1); }), "cannot open " + tmp / "none");
}

}  // namespace
}  // namespace ko
