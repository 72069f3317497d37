// GridSampleFast inside ONNX Runtime: registration, agreement with ONNX Runtime's own GridSample, and
// runs that fail cleanly on tensors the kernel cannot sample.
#include <gtest/gtest.h>
#include <onnxruntime_cxx_api.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "graph/custom_domain.h"
#include "tests/support/failure_text.h"
#include "tests/support/gridsample_model.h"
#include "tests/support/random_tensor.h"

namespace {

using ko::test::GridSampleNode;

Ort::Session openModel(GridSampleNode node, int threads, bool registerDomain = true) {
  return ko::test::openSession(ko::test::gridSampleModel(node), threads,
                               registerDomain ? ko::registerGridSampleFast : nullptr);
}

TEST(GridSampleFastOperator, AgreesWithOnnxRuntimesGridSampleWithinOneHundredThousandth) {
  std::mt19937 rng(17);
  for (const int threads : {1, 2}) {
    Ort::Session standard = openModel(GridSampleNode::standard, threads);
    Ort::Session fast = openModel(GridSampleNode::fast, threads);
    for (const std::vector<int64_t>& xShape :
         {std::vector<int64_t>{2, 12, 33, 47}, std::vector<int64_t>{1, 1, 17, 8}}) {
      const std::vector<int64_t> gridShape{xShape[0], xShape[2], xShape[3], 2};
      const std::vector<float> x = ko::test::uniformValues(
          static_cast<size_t>(xShape[0] * xShape[1] * xShape[2] * xShape[3]), -3.0f, 3.0f, rng);
      const std::vector<float> grid = ko::test::uniformValues(
          static_cast<size_t>(xShape[0] * xShape[2] * xShape[3] * 2), -1.5f, 1.5f, rng);
      const std::vector<float> expected = ko::test::runGridSample(standard, x, xShape, grid, gridShape);
      const std::vector<float> y = ko::test::runGridSample(fast, x, xShape, grid, gridShape);
      ASSERT_EQ(y.size(), expected.size());
      EXPECT_LE(ko::test::maxAbsDifference(y, expected), 1e-5f) << threads << " threads, C " << xShape[1];
    }
  }
}

TEST(GridSampleFastOperator, LoadsOnlyWhereTheDomainIsRegistered) {
  const std::string unregistered = ko::test::failureText([] { openModel(GridSampleNode::fast, 1, false); });
  EXPECT_NE(unregistered.find("com.quandrel:GridSampleFast"), std::string::npos) << unregistered;
}

TEST(GridSampleFastOperator, SharesOneDomainAcrossThreads) {
  std::vector<const void*> seen(4);
  std::vector<std::thread> threads;
  for (auto& slot : seen) threads.emplace_back([&slot] { slot = &ko::quandrelDomain(); });
  for (auto& thread : threads) thread.join();
  EXPECT_TRUE(std::all_of(seen.begin(), seen.end(), [&](const void* p) { return p == seen.front(); }));
}

TEST(GridSampleFastOperator, FailsTheRunOnAGridThatDoesNotFitX) {
  Ort::Session fast = openModel(GridSampleNode::fast, 2);
  std::mt19937 rng(2);
  const std::vector<float> x = ko::test::uniformValues(3 * 8 * 8, -1.0f, 1.0f, rng);
  const std::vector<float> smallGrid = ko::test::uniformValues(8 * 7 * 2, -1.0f, 1.0f, rng);
  const std::vector<float> wideGrid = ko::test::uniformValues(8 * 8 * 3, -1.0f, 1.0f, rng);
  for (const auto& [grid, shape, message] :
       {std::tuple{smallGrid, std::vector<int64_t>{1, 8, 7, 2}, "grid spatial size 8x7 differs from X's 8x8"},
        std::tuple{wideGrid, std::vector<int64_t>{1, 8, 8, 3}, "grid's last dimension must be 2, got 3"}}) {
    const std::string failure = ko::test::failureText([&] {
      ko::test::runGridSample(fast, x, {1, 3, 8, 8}, grid, shape);
    });
    EXPECT_NE(failure.find(std::string("GridSampleFast: ") + message), std::string::npos) << failure;
  }
}

}  // namespace
