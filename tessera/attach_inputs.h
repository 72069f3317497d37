// What the four teeth members deliver once loaded and cross-checked, and the sidecar reading that
// fills it. Reading works on texts already in memory, so it needs no files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tessera/geometry_stamp.h"

namespace ko::tessera {

inline constexpr int32_t kMaxDonors = 1024;

struct TesseraAttachInputs {
  int32_t n_donors = 0;
  std::vector<int32_t> track_order;  // entry i: the donor slot of the track's i-th frame
  std::vector<double> cent;          // per donor its mouth centre (x, y), interleaved
  double c_canon[2] = {0, 0};
  std::vector<double> aperture;
  GeometryStamp stamp;
  std::string head_pt;  // the raw weights archive
  std::string head_json;
  std::string manifest_json;
  std::string bank_track_path;
  std::string bank_container = "mp4";
  std::string bank_codec;
  std::string bank_pix_fmt;  // never empty once read
  std::string bank_packing = "rgb24_frames";
  int32_t band_w = 0;  // the stored patch per donor
  int32_t band_h = 0;

  // n_donors * band_h * band_w * 3: the bank in donor order, packed RGB24.
  uint64_t bandBytes() const;
};

// The texts a sidecar is read against and the names its messages use.
struct SidecarTexts {
  std::string sidecar;
  std::string sidecarLabel;  // the sidecar's member file name
  std::string manifest;
  std::string manifestPath;
  std::string bundleDir;
};

// Parses the sidecar, then the manifest, and fills every field but the raw member bytes and the
// track path, checking each rule in turn; the first broken rule throws its sentence.
void readSidecar(const SidecarTexts& texts, TesseraAttachInputs& inputs);

// Copies the bank from track order into donor order. Throws "teeth: null band buffer",
// "teeth: track_order does not match n_donors" or "teeth: zero reference stride".
void reorderTrackToDonor(const TesseraAttachInputs& inputs, const uint8_t* trackBytes, uint8_t* donorBytes);

}  // namespace ko::tessera
