// Compiled with -mavx2 -mavxvnni: run only where the processor has AVX-VNNI.
#include "graph/int8_dot-inl.h"

namespace ko::int8conv {
namespace {

struct AvxVnniAdd {
  static __m256i dot(__m256i sums, __m256i quads, __m256i weights) {
    return _mm256_dpbusd_avx_epi32(sums, quads, weights);
  }
};

}  // namespace

void rowSumsAvxVnni(const DotRow& row, const uint8_t* firstPixel, int64_t count, int32_t* acc) {
  rowSums<Vnni256<AvxVnniAdd>, 6>(row, firstPixel, count, acc);
}

}  // namespace ko::int8conv
