// The rewrites that bind a lip input and report the canvas and batch they found (the lip-contour bind
// and the compose v2 splice), run on a copy of a model with their outs watched.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace ko::test {

struct LipRewrite {
  bool done = false;
  std::vector<uint8_t> model;
  std::string reason = "stale";
  int32_t canvas = -7;  // -7 until the rewrite writes it
  int32_t batch = -7;
};

// `rewrite(model, reason, &canvas, &batch)` on a copy of `model`.
template <class Rewrite>
LipRewrite runLipRewrite(const std::vector<uint8_t>& model, Rewrite&& rewrite) {
  LipRewrite result;
  result.model = model;
  result.done = std::forward<Rewrite>(rewrite)(result.model, result.reason, &result.canvas, &result.batch);
  return result;
}

// The result, after checking the rewrite took the model and left no reason.
inline LipRewrite expectRewritten(LipRewrite result) {
  EXPECT_TRUE(result.done) << result.reason;
  EXPECT_EQ(result.reason, "");
  return result;
}

// The refusal's text, after checking that the model and the outs are as a refusal leaves them.
inline std::string expectRefused(const LipRewrite& result, const std::vector<uint8_t>& model) {
  EXPECT_FALSE(result.done);
  EXPECT_EQ(result.model, model);
  EXPECT_EQ(result.canvas, 0);
  EXPECT_EQ(result.batch, 0);
  return result.reason;
}

}  // namespace ko::test
