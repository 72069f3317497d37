// Compiled with AVX-512 VNNI: run only where the processor has it.
#include "graph/int8_dot-inl.h"

namespace ko::int8conv {
namespace {

// One 512-bit vector holds a whole block of sixteen channels.
struct Avx512VnniDot {
  using Sums = __m512i;
  using Weights = __m512i;
  static Sums zero() { return _mm512_setzero_si512(); }
  static Weights load(const int8_t* w) { return _mm512_loadu_si512(w); }
  static Sums add(Sums s, int32_t quad, Weights w) {
    return _mm512_dpbusd_epi32(s, _mm512_set1_epi32(quad), w);
  }
  static void store(Sums s, int32_t* acc) { _mm512_storeu_si512(acc, s); }
};

}  // namespace

void rowSumsAvx512Vnni(const DotRow& row, const uint8_t* firstPixel, int64_t count, int32_t* acc) {
  rowSums<Avx512VnniDot, 8>(row, firstPixel, count, acc);
}

}  // namespace ko::int8conv
