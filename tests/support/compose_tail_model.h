// A director-like graph ending in the unified compose tail, for the lip-contour bind, the compose v2
// splice and the renderer's tests:
//
//   compose_alpha = Clip(Mul(ReduceMean(P_rgb over channels), 3) - 0.8, lo, hi)
//   out = Add(Mul(compose_alpha, Sigmoid(P_rgb)), Mul(Sub(1, compose_alpha), Tanh(P_rgb)))
//
// with inputs "P_rgb" [batch, 3, side, side] and "kp_driving" [batch, 21, 3] and the outputs "out"
// and (by default) "compose_alpha". The defaults make the graph the bind takes; each field varies one
// thing it looks at.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ko::test {

inline constexpr char kComposeAlpha[] = "compose_alpha";

struct ComposeTail {
  int64_t side = 8;
  int64_t batch = 1;           // 0: the symbolic dim "N"
  bool swapped = false;        // Add(Mul(Sub(1, alpha), B), Mul(A, alpha))
  bool oneAsConstant = false;  // the 1 from a Constant node instead of an initializer
  float one = 1.0f;
  std::string alphaOpType = "Clip";  // anything else reads only the map
  int passThroughSteps = 0;          // Identity and Cast nodes, alternating, before "out"
  bool kpDriving = true;
  int64_t pooled64Batch = 0;      // an input "pooled64" [pooled64Batch, 64] when not 0
  int prgbRank = 4;               // 3 drops the batch dim
  std::vector<int64_t> loDims{};  // the Clip's bounds (0 and 1), scalars by default
  std::vector<int64_t> hiDims{};
  bool inverseFirst = false;  // the Sub(1, alpha) node listed first, before the alpha's producer
  bool alphaOutput = true;
};

std::vector<uint8_t> composeTailModel(const ComposeTail& tail);

}  // namespace ko::test
