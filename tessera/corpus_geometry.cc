#include "tessera/corpus_geometry.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numeric>
#include <stdexcept>
#include <string>

#include "tessera/unified_pi.h"

namespace ko::tessera {
namespace {

// NaN sorts last, so the ordering stays strict and weak whatever c_canon holds.
double sortKey(double distance) {
  return std::isnan(distance) ? HUGE_VAL : distance;
}

std::string twoDecimals(double v) {
  char text[64];
  std::snprintf(text, sizeof text, "%.2f", v);
  return text;
}

}  // namespace

const std::vector<CorpusGeometry>& corpusGeometries() {
  static const std::vector<CorpusGeometry> table = {
      {"v1", 0.05f, 0.08f, 0.015f}, {"v2", 0.10f, 0.08f, 0.074f}, {"v3", 0.14f, 0.08f, 0.074f}};
  return table;
}

size_t chooseCorpusGeometry(const std::vector<double>& distancesPx, const double cCanon[2]) {
  const auto& table = corpusGeometries();
  std::vector<size_t> order(std::min(distancesPx.size(), table.size()));
  std::iota(order.begin(), order.end(), size_t{0});
  std::stable_sort(order.begin(), order.end(),
                   [&](size_t a, size_t b) { return sortKey(distancesPx[a]) < sortKey(distancesPx[b]); });
  if (order.empty()) throw std::invalid_argument("teeth-pi: no corpus distances to choose from");
  std::string list;
  for (const size_t row : order)
    list += std::string(" ") + table[row].name + "=" + twoDecimals(distancesPx[row]) + "px";
  const double best = distancesPx[order[0]];
  if (!(best <= kCorpusMatchTolerancePx)) {
    throw std::runtime_error(
        "teeth-pi: no corpus pi geometry matches this bank's c_canon (" + twoDecimals(cCanon[0]) + "," +
        twoDecimals(cCanon[1]) + ") within " + twoDecimals(kCorpusMatchTolerancePx) + "px —" + list +
        " — the bank's pi frame is unknown and donors will NOT be placed against a frame "
        "nobody can name");
  }
  if (order.size() > 1 && distancesPx[order[1]] - best < kCorpusAmbiguityMarginPx) {
    throw std::runtime_error("teeth-pi: corpus pi geometry is AMBIGUOUS (best two within " +
                             twoDecimals(kCorpusAmbiguityMarginPx) + "px) —" + list +
                             " — refusing to guess the bank frame");
  }
  return order[0];
}

UnifiedPi UnifiedPi::corpusFromManifestJson(std::string_view manifest, int32_t canvas, const float* xsTarget,
                                            int nFrames, const double cCanon[2], std::string* chosenName) {
  if (xsTarget == nullptr || nFrames < 1) {
    throw std::runtime_error(
        "teeth-pi: the corpus frame is identified from the bundle's own xs_target and none was supplied — "
        "refusing to fall back to the stamped geometry, which is the GRAPH's compose field");
  }
  UnifiedPi pi = fromManifestJson(manifest, canvas);
  std::vector<double> distances;
  for (const CorpusGeometry& row : corpusGeometries()) {
    pi.pad_x = row.pad_x;
    pi.pad_y = row.pad_y;
    pi.down = row.down;
    double x = 0;
    double y = 0;
    pi.canonicalCentroid(xsTarget, nFrames, &x, &y);
    distances.push_back(std::hypot(x - cCanon[0], y - cCanon[1]));
  }
  const CorpusGeometry& chosen = corpusGeometries()[chooseCorpusGeometry(distances, cCanon)];
  pi.pad_x = chosen.pad_x;
  pi.pad_y = chosen.pad_y;
  pi.down = chosen.down;
  if (chosenName != nullptr) *chosenName = chosen.name;
  return pi;
}

}  // namespace ko::tessera
