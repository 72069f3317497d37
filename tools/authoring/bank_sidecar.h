// Teeth bank sidecars ("tessera_bank.v1") written from a plain description, for tests, seeds and the
// demo identity.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tessera/geometry_stamp.h"

namespace ko::authoring {

struct BankSidecarSpec {
  std::string format = "tessera_bank.v1";
  tessera::GeometryStamp stamp = smallStamp();
  int32_t nDonors = 2;
  std::vector<int32_t> trackOrder = {1, 0};
  std::vector<double> cent = {30.5, 38.0, 31.0, 39.5};  // (x, y) per donor
  std::vector<double> aperture = {0.2, 0.6};
  double cCanon[2] = {32.0, 40.0};
  std::string codec = "h264";
  std::string pixFmt = "rgb24";  // "" leaves the sidecar without a codec block

  // A coherent stamp on a 64 x 64 crop whose stored patch is 28 x 16.
  static tessera::GeometryStamp smallStamp();
  // trackOrder, cent and aperture for n donors: the track holds them in reverse order.
  static BankSidecarSpec withDonors(int32_t n);
};

// The twelve stamp keys as one JSON object.
std::string stampJson(const tessera::GeometryStamp& stamp);
std::string bankSidecarJson(const BankSidecarSpec& spec);

}  // namespace ko::authoring
