#include "bundle/identity.h"

#include <sys/stat.h>

#include <initializer_list>
#include <limits>
#include <stdexcept>

#include "bundle/bundle_cursors.h"
#include "bundle/drive.h"
#include "bundle/file_io.h"
#include "bundle/member_names.h"

namespace ko {
namespace {

constexpr const char* kRawPrior = "P.f16";
constexpr const char* kFsRed = "fs_red.f16";
constexpr const char* kPooled64 = "pooled64.f16";
constexpr const char* kPasteTransform = "M.f32";
constexpr size_t kPriorBytesPerPixel = 6;  // three half-precision planes
constexpr size_t kAffineFloats = 6;
constexpr int32_t kPriorAhead = 2;
constexpr int32_t kPriorHistory = 11;

// A product that overflows names a length no file can have, so the size check refuses it.
size_t checkedProduct(std::initializer_list<size_t> factors) {
  size_t product = 1;
  for (const size_t factor : factors) {
    if (__builtin_mul_overflow(product, factor, &product)) return std::numeric_limits<size_t>::max();
  }
  return product;
}

bool memberExists(const std::string& dir, const std::string& name) {
  struct stat st {};
  return stat(resolveMember(dir, name).c_str(), &st) == 0;
}

// The resolved prior movie when it opens, else empty.
std::string priorMoviePath(const Manifest& manifest) {
  const std::string path = resolveMember(manifest.dir, manifest.priorMovieMember());
  return opensForReading(path) ? path : std::string();
}

size_t priorRowBytes(int32_t crop) {
  return checkedProduct({static_cast<size_t>(crop), static_cast<size_t>(crop), kPriorBytesPerPixel});
}

}  // namespace

void ensureIdentityMembers(const Manifest& manifest) {
  const std::string& dir = manifest.dir;
  const std::string& rawName = manifest.priorRaw;
  const bool haveRawOrFsRed = memberExists(dir, kRawPrior) || memberExists(dir, kFsRed);
  if (rawName != kRawPrior && memberExists(dir, rawName) && !haveRawOrFsRed) {
    throw std::runtime_error(
        "this bundle's manifest names its raw warp prior '" + rawName +
        "' (P_rgb) but ko::Identity maps the welded name P.f16 and would find nothing \u2014 it maps NOTHING "
        "silently and Identity::P(si) is then an offset from a null pointer. REFUSING rather than rendering "
        "off a prior nothing will read.");
  }
  if (haveRawOrFsRed) return;
  const std::string& hevcName = manifest.priorMovie;
  if (hevcName.empty()) {
    throw std::runtime_error("this bundle carries neither " + rawName +
                             " nor fs_red.f16, and its manifest names no P_hevc member to play one from "
                             "\u2014 the renderer has no warp prior and ko::Identity would hand it a null "
                             "pointer. REFUSING to create a session.");
  }
  if (!memberExists(dir, hevcName)) {
    throw std::runtime_error("this bundle's manifest names P_hevc '" + hevcName +
                             "' and the file is not there (" + resolveMember(dir, hevcName) +
                             ") \u2014 the renderer has no warp prior. REFUSING to create a session.");
  }
}

Identity::Identity(const Manifest& manifest) : NT_(manifest.NT), crop_(manifest.crop), manifest_(manifest) {
  ensureIdentityMembers(manifest_);
  const std::string& dir = manifest_.dir;
  const size_t rows = static_cast<size_t>(NT_);
  pooled64_ = mapFile(resolveMember(dir, kPooled64), checkedProduct({rows, kPooled64RowBytes}));
  const std::string rawPath = resolveMember(dir, kRawPrior);
  const std::string fsRedPath = resolveMember(dir, kFsRed);
  const bool haveRaw = opensForReading(rawPath);
  const bool haveFsRed = opensForReading(fsRedPath);
  if (haveRaw) P_ = mapFile(rawPath, checkedProduct({rows, priorRowBytes(crop_)}));
  if (!haveRaw && !haveFsRed) priorMoviePath_ = priorMoviePath(manifest_);
  if (haveFsRed) fsRed_ = mapFile(fsRedPath, checkedProduct({rows, kFsRedRowBytes}));
  M_ = readRaw(resolveMember(dir, kPasteTransform), checkedProduct({rows, kAffineFloats}));
  rescaleM(manifest_);
}

// Out of line: the cursor is a complete type only here.
Identity::~Identity() = default;

const uint16_t* Identity::P(int si) const {
  if (P_.data()) {
    return reinterpret_cast<const uint16_t*>(P_.data() + static_cast<size_t>(si) * priorRowBytes(crop_));
  }
  int32_t index = -1;
  return reinterpret_cast<const uint16_t*>(prior().pullAt(si, &index));
}

const float* Identity::M(int si) const {
  return M_.data() + static_cast<size_t>(si) * kAffineFloats;
}

const uint16_t* Identity::pooled64(int si) const {
  return reinterpret_cast<const uint16_t*>(pooled64_.data() + static_cast<size_t>(si) * kPooled64RowBytes);
}

const uint16_t* Identity::fsRed(int si) const {
  return reinterpret_cast<const uint16_t*>(fsRed_.data() + static_cast<size_t>(si) * kFsRedRowBytes);
}

void Identity::walkP(int si) const {
  if (!priorFromMovie()) return;
  int32_t index = -1;
  prior().pullAt(si, &index);
}

DriverCursor& Identity::prior() const {
  // A failed opening leaves the flag unset, so the next caller tries again.
  std::call_once(priorOnce_, [this] { prior_ = openBundlePrior(manifest_, kPriorAhead, kPriorHistory); });
  return *prior_;
}

std::string Identity::priorBackend() const {
  if (P_.data()) return "mmap P.f16";
  if (priorFromMovie()) return prior().name();
  return "none";
}

size_t Identity::priorResidentBytes() const {
  if (P_.data() || !priorFromMovie()) return 0;
  return prior().residentBytes();
}

uint64_t Identity::priorSeeks() const {
  if (P_.data() || !priorFromMovie()) return 0;
  return prior().seeks();
}

void Identity::rescaleM(const Manifest& manifest) {
  if (manifest.M_src_w <= 0 || manifest.M_src_h <= 0) {
    throw std::runtime_error(
        "ko::Identity: manifest carries no paste-space stamp (M_src_w/M_src_h) \u2014 refusing to paste M "
        "without knowing the space it was authored in");
  }
  if (manifest.M_src_w == manifest.W && manifest.M_src_h == manifest.H) return;
  const double sx = static_cast<double>(manifest.W) / manifest.M_src_w;
  const double sy = static_cast<double>(manifest.H) / manifest.M_src_h;
  for (size_t row = 0; row + kAffineFloats <= M_.size(); row += kAffineFloats) {
    for (size_t k = 0; k < 3; ++k) M_[row + k] = static_cast<float>(M_[row + k] * sx);
    for (size_t k = 3; k < 6; ++k) M_[row + k] = static_cast<float>(M_[row + k] * sy);
  }
}

}  // namespace ko
