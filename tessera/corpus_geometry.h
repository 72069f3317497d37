// The three lip geometries the bank corpora were baked with, and how a bank's own is recognised: the
// one whose canonical pi centroid lies nearest the bank's c_canon, clearly nearer than the others.
#pragma once

#include <string>
#include <vector>

namespace ko::tessera {

struct CorpusGeometry {
  const char* name;
  float pad_x;
  float pad_y;
  float down;
};

// v1, v2, v3 in the order they are tried.
const std::vector<CorpusGeometry>& corpusGeometries();

inline constexpr double kCorpusMatchTolerancePx = 8.0;
inline constexpr double kCorpusAmbiguityMarginPx = 3.0;

// distancesPx[i] is corpusGeometries()[i]'s distance to cCanon. Returns the index of the accepted row;
// throws when none is within the tolerance or the best two are within the ambiguity margin.
size_t chooseCorpusGeometry(const std::vector<double>& distancesPx, const double cCanon[2]);

}  // namespace ko::tessera
