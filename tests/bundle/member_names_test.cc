#include "bundle/member_names.h"

#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"

namespace ko {
namespace {

TEST(CanonicalMember, RenamesRenderNetworks) {
  EXPECT_EQ(canonicalMember("model_b4.onnx"), "render_model.batch4.onnx");
  EXPECT_EQ(canonicalMember("model_b4_fp16.onnx"), "render_model.batch4.fp16.onnx");
  EXPECT_EQ(canonicalMember("model_b1_int8_x.onnx"), "render_model.batch1.int8_x.onnx");
  EXPECT_EQ(canonicalMember("model_b4_.onnx"), "render_model.batch4.onnx");
  EXPECT_EQ(canonicalMember("model_b.onnx"), "model_b.onnx");  // nothing between prefix and suffix
  EXPECT_EQ(canonicalMember("model_lite.onnx"), "model_lite.onnx");
  EXPECT_EQ(canonicalMember("model_b4.onnx.bak"), "model_b4.onnx.bak");
}

TEST(CanonicalMember, RenamesDriveTables) {
  EXPECT_EQ(canonicalMember("drive/xs.f32"), "idle_loop/source_keypoints.f32");
  EXPECT_EQ(canonicalMember("drive/xd.f32"), "idle_loop/driven_keypoints.f32");
  EXPECT_EQ(canonicalMember("drive/si.i32"), "idle_loop/source_index.i32");
  EXPECT_EQ(canonicalMember("drive/xs.v2.f32"), "idle_loop/source_keypoints.v2.f32");
  EXPECT_EQ(canonicalMember("drive/si"), "idle_loop/source_index");
  EXPECT_EQ(canonicalMember("drive/meta.json"), "idle_loop/meta.json");
  EXPECT_EQ(canonicalMember("drivers/xs.f32"), "drivers/xs.f32");
}

TEST(CanonicalMember, LeavesCurrentAndUnknownNamesAlone) {
  EXPECT_EQ(canonicalMember("paste_transform.f32"), "paste_transform.f32");
  EXPECT_EQ(canonicalMember("manifest.json"), "manifest.json");
  EXPECT_EQ(canonicalMember(""), "");
}

TEST(ResolveMember, PrefersLegacyThenCurrentThenFallsBackToLegacy) {
  test::TempDir dir;
  EXPECT_EQ(resolveMember(dir.path(), "M.f32"), dir / "M.f32");
  test::writeBytes(dir / "paste_transform.f32", "c");
  EXPECT_EQ(resolveMember(dir.path(), "M.f32"), dir / "paste_transform.f32");
  test::writeBytes(dir / "M.f32", "l");
  EXPECT_EQ(resolveMember(dir.path(), "M.f32"), dir / "M.f32");
  test::writeBytes(dir / "idle_loop/source_index.i32", "");
  EXPECT_EQ(resolveMember(dir.path(), "drive/si.i32"), dir / "idle_loop/source_index.i32");
}

TEST(ResolveMember, JoinsNamesWithoutAliasWithoutProbing) {
  EXPECT_EQ(resolveMember("/nonexistent/dir", "manifest.json"), "/nonexistent/dir/manifest.json");
}

}  // namespace
}  // namespace ko
