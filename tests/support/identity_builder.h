// Synthetic identities: a BundleBuilder bundle grown with every member an identity reads — the
// mapped tensors, the paste transform, the idle-loop tables, the paste mask and a JPEG driver
// directory — filled with deterministic content a test can compare against.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/authoring.h"
#include "tests/support/movie_writer.h"

namespace ko::test {

// Which warp prior the bundle carries: the raw tensor "P.f16", "fs_red.f16", the movie "P_hevc.mov"
// (priorMovieRecipe(), lossless yuv444p), or none.
enum class PriorMember { Raw, FsRed, Movie, None };

struct IdentityRecipe {
  int NT = 4;
  int W = 128;
  int H = 72;
  int crop = 32;
  int frames = 8;
  int mSrcScale = 1;  // M is authored on a canvas this many times W x H, stamped as M_src_w/M_src_h
  PriorMember prior = PriorMember::Raw;
  bool currentNames = false;  // "source_frames.f16", "idle_loop/source_index.i32", ... instead of legacy
  bool driverFrames = true;   // "target_frames/frame_%06d.jpg", NT frames of W x H
  bool driverMovie = false;   // "target_frames.mp4": driverMovieRecipe(), lossless H.264 yuv420p
  bool pasteMask = true;      // "mask_512.u8" (current name "paste_mask.u8")
  bool teeth = false;         // the four teeth members of authoring::teethMembers and their "tessera" block
};

class IdentityBuilder {
 public:
  explicit IdentityBuilder(IdentityRecipe recipe = {});

  // Manifest keys, as BundleBuilder::set/erase.
  IdentityBuilder& set(const std::string& key, const std::string& jsonValue);
  IdentityBuilder& erase(const std::string& key);
  // Adds a member or replaces the one stored under that exact name (the way in for movies).
  IdentityBuilder& member(const std::string& name, std::string bytes);
  IdentityBuilder& without(const std::string& name);

  const IdentityRecipe& recipe() const { return recipe_; }
  // The name a generated member is stored under: the legacy name, or its current name.
  std::string stored(const std::string& legacyName) const;
  // The bytes of the member stored under the legacy name's stored() name; throws when absent.
  const std::string& payload(const std::string& legacyName) const;
  // The movies the recipe asks for; moviePicture(recipe, i) and expectedRgb / expectedHalfPlanes give
  // what their frames decode to.
  MovieRecipe driverMovieRecipe() const;
  MovieRecipe priorMovieRecipe() const;

  // The paste transform as authored (before any rescale), NT x 6 floats.
  std::vector<float> authoredM() const;

  BundleBuilder bundle() const;
  void writeDirectory(const std::string& dir) const;
  void writeContainer(const std::string& path) const;

 private:
  void add(const std::string& legacyName, std::string bytes);

  IdentityRecipe recipe_;
  BundleBuilder keys_;
  std::vector<Member> members_;
};

// Frame `index` of a width x height driver video as packed RGB: smooth gradients that JPEG keeps
// within a few levels, over a blue level that differs by dozens between neighbouring frames.
std::vector<uint8_t> driverFrameRGB(int index, int width, int height);
// "frame_000012.jpg": the file name of a driver frame.
std::string driverFrameName(int index);
// Packed RGB encoded as a quality-97 baseline JPEG.
std::string jpegBytes(const std::vector<uint8_t>& rgb, int width, int height);
// Writes frames first .. first + count - 1 of driverFrameRGB into dir as numbered JPEG files.
void writeDriverFrames(const std::string& dir, int first, int count, int width, int height);
// The paste mask: a size x size feathered ellipse, 255 inside, 0 outside.
std::string featheredEllipse(int size);

}  // namespace ko::test
