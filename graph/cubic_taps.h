// The four weights of Keys' cubic convolution, as a cubic Resize applies them around one output.
#pragma once

namespace ko {

// For a source position at phase t in [0, 1) past its sample, the weights of the samples at distances
// t + 1, t, 1 - t and 2 - t, in that order, for the cubic coefficient a (Resize's cubic_coeff_a),
// divided by their sum. Computed in double.
void hcTaps(double t, double a, double (&taps)[4]);

}  // namespace ko
