#include "tools/authoring/bank_sidecar.h"

#include <sstream>

namespace ko::authoring {
namespace {

template <class T>
std::string jsonArray(const std::vector<T>& values) {
  std::ostringstream out;
  out.precision(17);
  out << '[';
  for (size_t i = 0; i < values.size(); ++i) out << (i ? ", " : "") << values[i];
  out << ']';
  return out.str();
}

std::string centJson(const std::vector<double>& cent) {
  std::ostringstream out;
  out.precision(17);
  out << '[';
  for (size_t i = 0; i + 1 < cent.size(); i += 2)
    out << (i ? ", " : "") << '[' << cent[i] << ", " << cent[i + 1] << ']';
  out << ']';
  return out.str();
}

}  // namespace

tessera::GeometryStamp BankSidecarSpec::smallStamp() {
  tessera::GeometryStamp s;
  s.canvas_w = 64;
  s.canvas_h = 64;
  s.window_x0 = 16;
  s.window_y0 = 32;
  s.window_w = 32;
  s.window_h = 16;
  s.pad = 4;
  s.band_r0 = 2;
  s.band_r1 = 14;
  s.band_c0 = 4;
  s.band_c1 = 28;
  s.shift_margin = 2;
  return s;
}

BankSidecarSpec BankSidecarSpec::withDonors(int32_t n) {
  BankSidecarSpec spec;
  spec.nDonors = n;
  spec.trackOrder.clear();
  spec.cent.clear();
  spec.aperture.clear();
  for (int32_t i = 0; i < n; ++i) {
    spec.trackOrder.push_back(n - 1 - i);
    spec.cent.push_back(30.0 + 0.01 * i);
    spec.cent.push_back(38.0 - 0.01 * i);
    spec.aperture.push_back(static_cast<double>(i % 10) / 10.0);
  }
  return spec;
}

std::string stampJson(const tessera::GeometryStamp& s) {
  std::ostringstream out;
  out << "{\"canvas_w\": " << s.canvas_w << ", \"canvas_h\": " << s.canvas_h
      << ", \"window_x0\": " << s.window_x0 << ", \"window_y0\": " << s.window_y0
      << ", \"window_w\": " << s.window_w << ", \"window_h\": " << s.window_h << ", \"pad\": " << s.pad
      << ", \"band_r0\": " << s.band_r0 << ", \"band_r1\": " << s.band_r1 << ", \"band_c0\": " << s.band_c0
      << ", \"band_c1\": " << s.band_c1 << ", \"shift_margin\": " << s.shift_margin << "}";
  return out.str();
}

std::string bankSidecarJson(const BankSidecarSpec& spec) {
  std::ostringstream out;
  out.precision(17);
  out << "{\"format\": \"" << spec.format << "\", \"geometry\": " << stampJson(spec.stamp)
      << ", \"n_donors\": " << spec.nDonors << ", \"track_order\": " << jsonArray(spec.trackOrder)
      << ", \"cent\": " << centJson(spec.cent) << ", \"aperture\": " << jsonArray(spec.aperture)
      << ", \"c_canon\": [" << spec.cCanon[0] << ", " << spec.cCanon[1] << "]";
  if (!spec.pixFmt.empty())
    out << ", \"codec\": {\"codec\": \"" << spec.codec << "\", \"pix_fmt\": \"" << spec.pixFmt << "\"}";
  out << "}";
  return out.str();
}

}  // namespace ko::authoring
