// The render calls through the C interface on synthetic bundles, cross-checked against the director
// run directly and against the paste call they build on.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "bundle/bundle.h"
#include "ko/ko.h"
#include "pool/pool.h"
#include "tests/support/c_handles.h"
#include "tests/support/identity_builder.h"
#include "tests/support/renderer_fixture.h"
#include "tests/support/temp_dir.h"

namespace ko {
namespace {

using test::IdentityBuilder;

using test::SessionHandle;

class RenderCalls : public ::testing::Test {
 protected:
  RenderCalls() : manifest_(loadManifest(dir_)), identity_(manifest_), drive_(loadDrive(manifest_)) {}

  ko_ctx* open(int threads = 1, const std::string& dir = {}) {
    return ko_create((dir.empty() ? dir_ : dir).c_str(), "m4b", threads, nullptr);
  }
  std::vector<float> direct(int si, const float* ks, const float* kd) {
    return test::directCrop({}, identity_, si, ks, kd);
  }
  std::vector<float> crop(const float* rendered) {
    return std::vector<float>(rendered, rendered + 3 * manifest_.crop * manifest_.crop);
  }
  size_t pixels() const { return static_cast<size_t>(manifest_.W) * static_cast<size_t>(manifest_.H); }

  test::RendererBundles bundles_;
  std::string dir_ = bundles_.write(IdentityBuilder());
  Manifest manifest_;
  Identity identity_;
  Drive drive_;
  std::vector<float> ks_ = test::keypoints(1, 0.0f), kd_ = test::keypoints(1, 0.03f);
};

void expectNear(const std::vector<float>& got, const std::vector<float>& expected) {
  ASSERT_EQ(got.size(), expected.size());
  for (size_t i = 0; i < got.size(); ++i) ASSERT_NEAR(got[i], expected[i], 1e-5f) << "at " << i;
}

TEST_F(RenderCalls, CropsAreTheDirectorsOutputAndPasteLastPastesTheLastOne) {
  const SessionHandle session(open());
  ASSERT_NE(session.get(), nullptr) << ko_last_error();
  const float* rendered = ko_render_kp_crop(session.get(), 2, ks_.data(), kd_.data());
  ASSERT_NE(rendered, nullptr) << ko_last_error();
  EXPECT_STREQ(ko_last_error(), "");
  expectNear(crop(rendered), direct(2, ks_.data(), kd_.data()));

  const int t = 5;
  const size_t row = static_cast<size_t>(t) * 63;
  rendered = ko_render_drive_crop(session.get(), t);
  ASSERT_NE(rendered, nullptr) << ko_last_error();
  const int si = drive_.si[static_cast<size_t>(t)];
  expectNear(crop(rendered), direct(si, drive_.xs.data() + row, drive_.xd.data() + row));

  std::vector<uint8_t> expected(pixels() * 3);
  ASSERT_EQ(ko_paste_crop(session.get(), 1, rendered, expected.data(), expected.size()), 1)
      << ko_last_error();
  const uint8_t* pasted = ko_paste_last(session.get(), 1);
  ASSERT_NE(pasted, nullptr) << ko_last_error();
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), pasted));

  std::vector<uint8_t> rgba(pixels() * 4);
  ASSERT_EQ(ko_render_drive_rgba(session.get(), t, rgba.data(), rgba.size()), 1) << ko_last_error();
  ASSERT_EQ(ko_paste_crop(session.get(), si, ko_render_drive_crop(session.get(), t), expected.data(),
                          expected.size()),
            1);
  for (size_t p = 0; p < pixels(); ++p) {
    const uint8_t want[4] = {expected[3 * p], expected[3 * p + 1], expected[3 * p + 2], 255};
    ASSERT_TRUE(std::equal(want, want + 4, rgba.begin() + static_cast<std::ptrdiff_t>(4 * p))) << p;
  }
}

TEST_F(RenderCalls, RefusalsLeaveEarlierStateAsItWas) {
  const SessionHandle session(open());
  EXPECT_EQ(ko_paste_last(session.get(), 0), nullptr);
  EXPECT_STREQ(ko_last_error(), "ko_paste_last: bad args / no prior render");
  for (int si : {-1, manifest_.NT}) {
    EXPECT_EQ(ko_render_kp_crop(session.get(), si, ks_.data(), kd_.data()), nullptr);
    EXPECT_STREQ(ko_last_error(), "ko_render_kp_crop: bad args");
  }
  EXPECT_EQ(ko_render_kp_crop(session.get(), 0, nullptr, kd_.data()), nullptr);
  EXPECT_STREQ(ko_last_error(), "ko_render_kp_crop: bad args");
  EXPECT_EQ(ko_render_drive_crop(session.get(), manifest_.frames), nullptr);
  EXPECT_STREQ(ko_last_error(), "ko_render_drive_crop: bad frame index");

  // Too small an RGBA buffer: the crop is rendered all the same, and ko_paste_last still pastes it.
  std::vector<uint8_t> rgba(pixels() * 4 - 1);
  EXPECT_EQ(ko_render_kp_rgba(session.get(), 3, ks_.data(), kd_.data(), rgba.data(), rgba.size()), 0);
  EXPECT_STREQ(ko_last_error(), "ko_render_*_rgba: out buffer too small");
  EXPECT_EQ(ko_paste_last(session.get(), manifest_.NT), nullptr);
  EXPECT_STREQ(ko_last_error(), "ko_paste_last: bad args / no prior render");
  const std::vector<float> direct3 = direct(3, ks_.data(), kd_.data());
  std::vector<uint8_t> expected(pixels() * 3);
  ASSERT_EQ(ko_paste_crop(session.get(), 3, direct3.data(), expected.data(), expected.size()), 1);
  const uint8_t* pasted = ko_paste_last(session.get(), 3);
  ASSERT_NE(pasted, nullptr) << ko_last_error();
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), pasted));
  // A missing session is named by the render each RGBA call makes, never left to an older text.
  EXPECT_EQ(ko_render_kp_rgba(nullptr, 0, ks_.data(), kd_.data(), rgba.data(), rgba.size()), 0);
  EXPECT_STREQ(ko_last_error(), "ko_render_kp_crop: bad args");
  EXPECT_EQ(ko_render_drive_rgba(nullptr, 0, rgba.data(), rgba.size()), 0);
  EXPECT_STREQ(ko_last_error(), "ko_render_drive_crop: bad frame index");
}

TEST_F(RenderCalls, ARefusedDirectorIsTriedAgainByTheNextCall) {
  const SessionHandle session(open(1, bundles_.write(IdentityBuilder(), test::DirectorRecipe{.batch = "B"})));
  ASSERT_NE(session.get(), nullptr) << ko_last_error();
  for (int attempt = 0; attempt < 2; ++attempt) {
    EXPECT_EQ(ko_render_kp_crop(session.get(), 0, ks_.data(), kd_.data()), nullptr);
    EXPECT_STREQ(ko_last_error(), "ko_render_kp_crop: pooled64 input not found / bad shape");
  }
}

TEST_F(RenderCalls, AFailedRunInsideOnnxRuntimeIsReportedAndTheLastCropStaysUsable) {
  const SessionHandle session(
      open(1, bundles_.write(IdentityBuilder(), test::DirectorRecipe{.runFailsAtSeven = true})));
  ASSERT_NE(session.get(), nullptr) << ko_last_error();
  const float* rendered = ko_render_kp_crop(session.get(), 1, ks_.data(), kd_.data());
  ASSERT_NE(rendered, nullptr) << ko_last_error();
  const std::vector<float> good = crop(rendered);

  std::vector<float> failing = kd_;
  failing[0] = 7.0f;
  EXPECT_EQ(ko_render_kp_crop(session.get(), 1, ks_.data(), failing.data()), nullptr);
  const std::string error = ko_last_error();
  EXPECT_EQ(error.rfind("ko_render_kp_crop: ", 0), 0u) << error;
  EXPECT_NE(error.find("Reshape"), std::string::npos) << error;
  const uint8_t* pasted = ko_paste_last(session.get(), 1);
  ASSERT_NE(pasted, nullptr) << ko_last_error();
  const std::vector<uint8_t> pastedLast(pasted, pasted + 3 * pixels());
  std::vector<uint8_t> pastedGood(3 * pixels());
  ASSERT_EQ(ko_paste_crop(session.get(), 1, good.data(), pastedGood.data(), pastedGood.size()), 1);
  EXPECT_EQ(pastedLast, pastedGood);

  rendered = ko_render_kp_crop(session.get(), 1, ks_.data(), kd_.data());
  ASSERT_NE(rendered, nullptr) << ko_last_error();
  EXPECT_EQ(crop(rendered), good);
}

TEST_F(RenderCalls, RenderFromAContainerAsFromItsDirectory) {
  test::TempDir tmp;
  const std::string container = tmp / "alice.imx";
  const std::vector<uint8_t> model = test::directorModel();
  IdentityBuilder()
      .member("model_m4b.onnx", std::string(model.begin(), model.end()))
      .writeContainer(container);
  const SessionHandle session(open(1, container));
  ASSERT_NE(session.get(), nullptr) << ko_last_error();
  const float* rendered = ko_render_kp_crop(session.get(), 2, ks_.data(), kd_.data());
  ASSERT_NE(rendered, nullptr) << ko_last_error();
  expectNear(crop(rendered), direct(2, ks_.data(), kd_.data()));
}

TEST_F(RenderCalls, ADirectorTheCallerDidNotSizeGetsAtMostTwoThreads) {
  const std::string line = "[ko] director intra-op " + std::to_string(std::min(pool::threads(), 2)) +
                           " of pool " + std::to_string(pool::threads()) +
                           ": the caller did not choose, the core sized it for the ko_utt pipeline";
  for (int threads : {0, 4}) {
    const SessionHandle session(open(threads));
    ASSERT_NE(session.get(), nullptr) << ko_last_error();
    testing::internal::CaptureStderr();
    const float* rendered = ko_render_kp_crop(session.get(), 0, ks_.data(), kd_.data());
    const std::string printed = testing::internal::GetCapturedStderr();
    ASSERT_NE(rendered, nullptr) << ko_last_error();
    EXPECT_EQ(printed.find(line) != std::string::npos, threads == 0) << printed;
  }
}

}  // namespace
}  // namespace ko
