// Compiled with -mavx2 -mavxvnni: run only where the processor has AVX-VNNI.
#include "graph/int8_dot-inl.h"

namespace ko::int8conv {
namespace {

struct AvxVnniDot : VnniSums {
  static Sums add(Sums s, int32_t quad, Weights w) {
    return _mm256_dpbusd_avx_epi32(s, _mm256_set1_epi32(quad), w);
  }
};

}  // namespace

void rowSumsAvxVnni(const DotRow& row, const uint8_t* firstPixel, int64_t count, int32_t* acc) {
  rowSums<AvxVnniDot, 8>(row, firstPixel, count, acc);
}

}  // namespace ko::int8conv
