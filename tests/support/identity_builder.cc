#include "tests/support/identity_builder.h"

#include <stb_image_write.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <stdexcept>
#include <utility>

#include "simd/half.h"
#include "tests/support/temp_dir.h"
#include "tools/authoring/teeth_members.h"

namespace ko::test {
namespace {

// Written out by hand rather than taken from the library, so a wrong alias in the library shows.
constexpr std::array<std::pair<const char*, const char*>, 9> kCurrentNames{{
    {"P.f16", "source_frames.f16"},
    {"fs_red.f16", "feature_synth.f16"},
    {"pooled64.f16", "pooled_features.f16"},
    {"M.f32", "paste_transform.f32"},
    {"mask_512.u8", "paste_mask.u8"},
    {"drive/xs.f32", "idle_loop/source_keypoints.f32"},
    {"drive/xd.f32", "idle_loop/driven_keypoints.f32"},
    {"drive/si.i32", "idle_loop/source_index.i32"},
    {"P_hevc.mov", "source_frames.hevc"},
}};

constexpr size_t kPooled64RowBytes = 131072;
constexpr size_t kFsRedRowBytes = 524288;
constexpr int kKeypointFloats = 63;
constexpr int kJpegQuality = 97;

// Hash-like bytes, so no two rows of a table are alike.
// Rows of finite halves in [0, 1), different in every row and position, so a director fed them
// renders finite crops.
std::string finiteHalfRows(size_t halves, uint32_t seed) {
  std::vector<uint16_t> values(halves);
  for (size_t i = 0; i < halves; ++i) {
    values[i] = f32ToF16(static_cast<float>((static_cast<uint32_t>(i + seed) * 2654435761u) >> 26) / 64.0f);
  }
  return memberBytes(values);
}

// Planes R, G, B of crop x crop halves, each a multiple of 1/64 in [0, 1] (exact in half precision).
std::string priorBytes(int NT, int crop) {
  std::vector<uint16_t> halves;
  halves.reserve(static_cast<size_t>(NT) * 3 * crop * crop);
  for (int si = 0; si < NT; ++si) {
    for (int plane = 0; plane < 3; ++plane) {
      for (int y = 0; y < crop; ++y) {
        for (int x = 0; x < crop; ++x) {
          halves.push_back(f32ToF16(static_cast<float>((x + 2 * y + 5 * plane + 11 * si) % 65) / 64.0f));
        }
      }
    }
  }
  return memberBytes(halves);
}

std::vector<float> keypointTable(int frames, float step) {
  std::vector<float> values(static_cast<size_t>(std::max(frames, 0)) * kKeypointFloats);
  for (size_t i = 0; i < values.size(); ++i) values[i] = static_cast<float>(i) * step;
  return values;
}

std::vector<int32_t> sourceIndices(int frames, int NT) {
  std::vector<int32_t> si(static_cast<size_t>(std::max(frames, 0)));
  for (size_t t = 0; t < si.size(); ++t) si[t] = static_cast<int32_t>((t * 3) % static_cast<size_t>(NT));
  return si;
}

void appendToString(void* context, void* data, int size) {
  static_cast<std::string*>(context)->append(static_cast<const char*>(data), static_cast<size_t>(size));
}

}  // namespace

IdentityBuilder::IdentityBuilder(IdentityRecipe recipe) : recipe_(recipe) {
  const IdentityRecipe& s = recipe_;
  keys_.set("NT", std::to_string(s.NT))
      .set("W", std::to_string(s.W))
      .set("H", std::to_string(s.H))
      .set("crop", std::to_string(s.crop))
      .set("frames", std::to_string(s.frames))
      .set("M_src_w", std::to_string(s.W * s.mSrcScale))
      .set("M_src_h", std::to_string(s.H * s.mSrcScale));
  const size_t rows = static_cast<size_t>(s.NT);
  add("pooled64.f16", finiteHalfRows(rows * kPooled64RowBytes / 2, 1));
  if (s.prior == PriorMember::Raw) add("P.f16", priorBytes(s.NT, s.crop));
  if (s.prior == PriorMember::FsRed) add("fs_red.f16", finiteHalfRows(rows * kFsRedRowBytes / 2, 2));
  if (s.prior == PriorMember::Movie) {
    keys_.set("P_hevc", "\"P_hevc.mov\"");
    add("P_hevc.mov", movieBytes(priorMovieRecipe(), ".mov"));
  }
  if (s.driverMovie) member("target_frames.mp4", movieBytes(driverMovieRecipe(), ".mp4"));
  if (s.teeth) {
    const authoring::TeethMembersSpec teeth;
    keys_.set("tessera", authoring::tesseraBlockJson(teeth));
    for (authoring::Member& m : authoring::teethMembers(teeth)) member(m.first, std::move(m.second));
  }
  add("M.f32", memberBytes(authoredM()));
  add("drive/xs.f32", memberBytes(keypointTable(s.frames, 0.25f)));
  add("drive/xd.f32", memberBytes(keypointTable(s.frames, -0.5f)));
  add("drive/si.i32", memberBytes(sourceIndices(s.frames, s.NT)));
  // The member keeps its historical name whatever the crop; it holds crop x crop bytes.
  if (s.pasteMask) add("mask_512.u8", featheredEllipse(s.crop));
  for (int i = 0; s.driverFrames && i < s.NT; ++i) {
    member("target_frames/" + driverFrameName(i), jpegBytes(driverFrameRGB(i, s.W, s.H), s.W, s.H));
  }
}

MovieRecipe IdentityBuilder::driverMovieRecipe() const {
  MovieRecipe movie;
  movie.width = recipe_.W;
  movie.height = recipe_.H;
  movie.frames = recipe_.NT;
  return movie;
}

MovieRecipe IdentityBuilder::priorMovieRecipe() const {
  MovieRecipe movie;
  movie.width = movie.height = recipe_.crop;
  movie.frames = recipe_.NT;
  movie.fullChroma = true;
  return movie;
}

IdentityBuilder& IdentityBuilder::set(const std::string& key, const std::string& jsonValue) {
  keys_.set(key, jsonValue);
  return *this;
}

IdentityBuilder& IdentityBuilder::erase(const std::string& key) {
  keys_.erase(key);
  return *this;
}

IdentityBuilder& IdentityBuilder::member(const std::string& name, std::string bytes) {
  auto found =
      std::find_if(members_.begin(), members_.end(), [&](const Member& m) { return m.first == name; });
  if (found == members_.end()) {
    members_.emplace_back(name, std::move(bytes));
  } else {
    found->second = std::move(bytes);
  }
  return *this;
}

IdentityBuilder& IdentityBuilder::without(const std::string& name) {
  std::erase_if(members_, [&](const Member& m) { return m.first == name; });
  return *this;
}

std::string IdentityBuilder::stored(const std::string& legacyName) const {
  if (!recipe_.currentNames) return legacyName;
  for (const auto& [legacy, current] : kCurrentNames) {
    if (legacyName == legacy) return current;
  }
  return legacyName;
}

const std::string& IdentityBuilder::payload(const std::string& legacyName) const {
  const std::string name = stored(legacyName);
  for (const auto& [memberName, bytes] : members_) {
    if (memberName == name) return bytes;
  }
  throw std::runtime_error("the identity has no member " + name);
}

// A slightly rotated square placing the crop at the middle of the authoring canvas, half its height
// tall, one pixel further right per source frame.
std::vector<float> IdentityBuilder::authoredM() const {
  const double canvasW = recipe_.W * recipe_.mSrcScale;
  const double canvasH = recipe_.H * recipe_.mSrcScale;
  const double scale = 0.5 * canvasH / recipe_.crop;
  const double halfCrop = 0.5 * scale * recipe_.crop;
  std::vector<float> M;
  for (int si = 0; si < recipe_.NT; ++si) {
    const double row[6] = {scale,         0.05 * scale, canvasW / 2 - halfCrop + si,
                           -0.05 * scale, scale,        canvasH / 2 - halfCrop};
    for (const double value : row) M.push_back(static_cast<float>(value));
  }
  return M;
}

BundleBuilder IdentityBuilder::bundle() const {
  BundleBuilder bundle = keys_;
  for (const auto& [name, bytes] : members_) bundle.member(name, bytes);
  return bundle;
}

void IdentityBuilder::writeDirectory(const std::string& dir) const {
  bundle().writeDirectory(dir);
}

void IdentityBuilder::writeContainer(const std::string& path) const {
  bundle().writeContainer(path);
}

void IdentityBuilder::add(const std::string& legacyName, std::string bytes) {
  member(stored(legacyName), std::move(bytes));
}

std::vector<uint8_t> driverFrameRGB(int index, int width, int height) {
  std::vector<uint8_t> rgb(static_cast<size_t>(width) * height * 3);
  const auto blue = static_cast<uint8_t>((index * 67) % 256);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      uint8_t* pixel = &rgb[(static_cast<size_t>(y) * width + x) * 3];
      pixel[0] = static_cast<uint8_t>(x * 255 / std::max(width - 1, 1));
      pixel[1] = static_cast<uint8_t>(y * 255 / std::max(height - 1, 1));
      pixel[2] = blue;
    }
  }
  return rgb;
}

std::string driverFrameName(int index) {
  char name[32];
  std::snprintf(name, sizeof name, "frame_%06d.jpg", index);
  return name;
}

std::string jpegBytes(const std::vector<uint8_t>& rgb, int width, int height) {
  std::string bytes;
  if (stbi_write_jpg_to_func(appendToString, &bytes, width, height, 3, rgb.data(), kJpegQuality) == 0) {
    throw std::runtime_error("JPEG encoding failed");
  }
  return bytes;
}

void writeDriverFrames(const std::string& dir, int first, int count, int width, int height) {
  for (int i = first; i < first + count; ++i) {
    writeBytes(dir + "/" + driverFrameName(i), jpegBytes(driverFrameRGB(i, width, height), width, height));
  }
}

std::string featheredEllipse(int size) {
  constexpr double kFeather = 0.15;  // fraction of the radius over which the edge fades
  std::string mask(static_cast<size_t>(size) * size, '\0');
  const double centre = 0.5 * (size - 1);
  for (int y = 0; y < size; ++y) {
    for (int x = 0; x < size; ++x) {
      const double dx = (x - centre) / (0.40 * size);
      const double dy = (y - centre) / (0.48 * size);
      const double inside = std::clamp((1.0 - std::sqrt(dx * dx + dy * dy)) / kFeather, 0.0, 1.0);
      mask[static_cast<size_t>(y) * size + x] = static_cast<char>(std::lround(inside * 255.0));
    }
  }
  return mask;
}

}  // namespace ko::test
