// Compiled with AVX-512 VNNI (and VL for its 256-bit form): run only where the processor has them.
#include "graph/int8_dot-inl.h"

namespace ko::int8conv {
namespace {

struct Avx512VnniDot : VnniSums {
  static Sums add(Sums s, int32_t quad, Weights w) {
    return _mm256_dpbusd_epi32(s, _mm256_set1_epi32(quad), w);
  }
};

}  // namespace

void rowSumsAvx512Vnni(const DotRow& row, const uint8_t* firstPixel, int64_t count, int32_t* acc) {
  rowSums<Avx512VnniDot, 8>(row, firstPixel, count, acc);
}

}  // namespace ko::int8conv
