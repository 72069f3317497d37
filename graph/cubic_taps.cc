#include "graph/cubic_taps.h"

namespace ko {
namespace {

double keysWeight(double d, double a) {
  if (d <= 1) return ((a + 2) * d - (a + 3)) * d * d + 1;
  return ((d - 5) * d + 8) * d * a - 4 * a;
}

}  // namespace

void hcTaps(double t, double a, double (&taps)[4]) {
  const double distances[4] = {t + 1, t, 1 - t, 2 - t};
  double sum = 0;
  for (int k = 0; k < 4; ++k) {
    taps[k] = keysWeight(distances[k], a);
    sum += taps[k];
  }
  for (double& tap : taps) tap /= sum;
}

}  // namespace ko
