// Int8ConvVNNI: the quantisation rules, every dot-product path against a float convolution of the
// dequantised tensors, the operator inside ONNX Runtime against ONNX Runtime's own Conv, and runs
// refused with a clear message on tensors that do not fit.
#include <gtest/gtest.h>
#include <onnxruntime_cxx_api.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "graph/custom_domain.h"
#include "graph/int8_conv.h"
#include "graph/int8_conv_kernels.h"
#include "tests/simd/target_sweep.h"
#include "tests/support/failure_text.h"
#include "tests/support/int8_conv_model.h"
#include "tests/support/ort_run.h"
#include "tests/support/random_tensor.h"

namespace {

using ko::int8conv::DotPath;
using ko::test::Int8ConvCase;

// The activation the operator sees after quantising, computed here from the rules, not the kernel.
std::vector<float> dequantisedActivation(const std::vector<float>& x) {
  const auto [low, high] = std::minmax_element(x.begin(), x.end());
  float sx = (*high - *low) / 255.0f;
  if (sx <= 0) sx = 1;
  const float zp = std::clamp(std::nearbyint(-*low / sx), 0.0f, 255.0f);
  std::vector<float> out;
  for (const float v : x) out.push_back((std::clamp(std::nearbyint(v / sx) + zp, 0.0f, 255.0f) - zp) * sx);
  return out;
}

struct Reference {
  std::vector<float> y;
  std::vector<float> magnitude;  // the sum of |terms| of each output, to scale the tolerance
};

Reference floatConvolution(const Int8ConvCase& c, const std::vector<float>& xq) {
  const std::vector<float> w = c.dequantisedWeights();
  const std::vector<int64_t> out = c.outShape();
  const int64_t cin = c.xShape[1], h = c.xShape[2], wd = c.xShape[3];
  const int64_t kh = c.weightShape[2], kw = c.weightShape[3];
  Reference ref;
  for (int64_t n = 0; n < out[0]; ++n) {
    for (int64_t co = 0; co < out[1]; ++co) {
      for (int64_t oy = 0; oy < out[2]; ++oy) {
        for (int64_t ox = 0; ox < out[3]; ++ox) {
          double sum = c.bias[co], magnitude = std::abs(c.bias[co]);
          for (int64_t ci = 0; ci < cin; ++ci) {
            for (int64_t ky = 0; ky < kh; ++ky) {
              for (int64_t kx = 0; kx < kw; ++kx) {
                const int64_t iy = oy * c.strides[0] - c.pads[0] + ky * c.dilations[0];
                const int64_t ix = ox * c.strides[1] - c.pads[1] + kx * c.dilations[1];
                if (iy < 0 || iy >= h || ix < 0 || ix >= wd) continue;
                const double term = double{xq[((n * cin + ci) * h + iy) * wd + ix]} *
                                    w[((co * cin + ci) * kh + ky) * kw + kx];
                sum += term;
                magnitude += std::abs(term);
              }
            }
          }
          ref.y.push_back(static_cast<float>(sum));
          ref.magnitude.push_back(static_cast<float>(magnitude));
        }
      }
    }
  }
  return ref;
}

ko::int8conv::ConvGeometry geometryOf(const Int8ConvCase& c) {
  const std::vector<int64_t> out = c.outShape();
  return {c.xShape[0],      c.xShape[1],      c.xShape[2],    c.xShape[3],  c.weightShape[0],
          c.weightShape[2], c.weightShape[3], c.strides[0],   c.strides[1], c.pads[0],
          c.pads[1],        c.dilations[0],   c.dilations[1], out[2],       out[3]};
}

std::vector<float> kernelConvolution(const Int8ConvCase& c, const std::vector<float>& x, DotPath path) {
  using namespace ko::int8conv;
  const std::vector<int64_t> out = c.outShape();
  const ConvGeometry g = geometryOf(c);
  const Quantization quantization = quantizationFor(activationRange(x.data(), x.size()));
  std::vector<uint8_t> q(quantizedBytes(g));
  quantizeInterleaved(x.data(), g, quantization, q.data());
  const PackedWeights packed =
      packWeights(c.weights.data(), g.outChannels, g.inChannels, g.kernelH, g.kernelW);
  std::vector<float> y(static_cast<size_t>(out[0] * out[1] * out[2] * out[3]));
  convolve({g, q.data(), quantization, &packed, c.weightScales.data(), c.bias.data(), y.data()}, path);
  return y;
}

void expectNear(const std::vector<float>& y, const Reference& ref, const std::string& what) {
  ASSERT_EQ(y.size(), ref.y.size()) << what;
  for (size_t i = 0; i < y.size(); ++i) {
    ASSERT_NEAR(y[i], ref.y[i], 1e-5f * ref.magnitude[i] + 1e-6f) << what << " at " << i;
  }
}

std::vector<float> uniform(size_t count, float low, float high, uint32_t seed) {
  std::mt19937 rng(seed);
  return ko::test::uniformValues(count, low, high, rng);
}

size_t elements(const std::vector<int64_t>& shape) {
  size_t count = 1;
  for (const int64_t d : shape) count *= static_cast<size_t>(d);
  return count;
}

std::vector<DotPath> supportedPaths() {
  std::vector<DotPath> paths;
  for (const DotPath path : {DotPath::scalar, DotPath::avx2, DotPath::avxVnni, DotPath::avx512Vnni}) {
    if (ko::int8conv::supported(path)) paths.push_back(path);
  }
  return paths;
}

Int8ConvCase geometryCase(int64_t stride, int64_t pad, int64_t dilation, uint32_t seed) {
  // 21 output channels: one full block of sixteen and a partial one; 6 input channels: a padded quad.
  Int8ConvCase c = ko::test::randomInt8Conv({2, 6, 11, 14}, {21, 6, 3, 3}, seed);
  c.strides = {stride, stride};
  c.pads = {pad, pad + 1, pad, pad};
  c.dilations = {dilation, dilation};
  return c;
}

TEST(Int8ConvQuantization, ConstantActivationUsesUnitScaleAndItsNegationAsZeroPointOthersClampAndSaturate) {
  using ko::int8conv::quantizationFor;
  EXPECT_EQ(quantizationFor({-3.6f, -3.6f}).scale, 1.0f);
  EXPECT_EQ(quantizationFor({-3.6f, -3.6f}).zeroPoint, 4);
  EXPECT_EQ(quantizationFor({-2.5f, -2.5f}).zeroPoint, 2);  // ties to even
  EXPECT_EQ(quantizationFor({-300.0f, -300.0f}).zeroPoint, 255);
  EXPECT_EQ(quantizationFor({7.0f, 7.0f}).zeroPoint, 0);
  // A minimum above zero clamps the zero point, and values past 255 steps saturate.
  const ko::int8conv::Quantization q = ko::int8conv::quantizationFor({0.5f, 2.0f});
  EXPECT_FLOAT_EQ(q.scale, 1.5f / 255.0f);
  EXPECT_EQ(q.zeroPoint, 0);
  EXPECT_EQ(ko::int8conv::quantize(2.0f, q), 255);
  EXPECT_EQ(ko::int8conv::quantize(0.5f, q), 85);
  EXPECT_EQ(ko::int8conv::quantize(std::nanf(""), q), 0);
}

// The scalar path against the float reference, every other path against the scalar one exactly.
void expectEveryPathMatches(const Int8ConvCase& c, const std::vector<float>& x, const std::string& what) {
  const std::vector<float> scalar = kernelConvolution(c, x, DotPath::scalar);
  expectNear(scalar, floatConvolution(c, dequantisedActivation(x)), what);
  for (const DotPath path : supportedPaths()) {
    EXPECT_EQ(kernelConvolution(c, x, path), scalar) << what << " on " << ko::int8conv::pathName(path);
  }
}

TEST(Int8ConvQuantization, InterleavedBufferHoldsEachQuantisedActivationAndZeroPointsElsewhere) {
  // 7 channels: a whole quad and a padded one; 11 columns: groups of four pixels and a remainder.
  Int8ConvCase c = ko::test::randomInt8Conv({2, 7, 5, 11}, {3, 7, 3, 3}, 31);
  c.pads = {1, 2, 2, 1};
  const ko::int8conv::ConvGeometry g = geometryOf(c);
  // A power-of-two scale makes exact ties; the range reaches past both ends of [0, 255].
  const ko::int8conv::Quantization quantization{0.25f, 37};
  std::vector<float> x = uniform(elements(c.xShape), -12.0f, 60.0f, 32);
  const float specials[] = {std::nanf(""), INFINITY, -INFINITY, 1e30f,   -1e30f, 0.125f, 0.375f,
                            -0.125f,       -0.375f,  2.625f,    -9.125f, 54.5f,  54.625f};
  for (size_t i = 0; i < std::size(specials); ++i) x[i * 5] = x[x.size() - 1 - i * 3] = specials[i];
  std::vector<uint8_t> q(ko::int8conv::quantizedBytes(g));
  ko::int8conv::quantizeInterleaved(x.data(), g, quantization, q.data());
  const int64_t height = ko::int8conv::framedHeight(g), width = ko::int8conv::framedWidth(g);
  const int64_t pixelBytes = ko::int8conv::paddedChannels(g.inChannels);
  ASSERT_EQ(q.size(), static_cast<size_t>(g.batch * height * width * pixelBytes));
  for (int64_t n = 0; n < g.batch; ++n) {
    for (int64_t row = 0; row < height; ++row) {
      for (int64_t column = 0; column < width; ++column) {
        for (int64_t ci = 0; ci < pixelBytes; ++ci) {
          const int64_t iy = row - g.padTop, ix = column - g.padLeft;
          const bool inside = iy >= 0 && iy < g.height && ix >= 0 && ix < g.width && ci < g.inChannels;
          const uint8_t expected =
              inside ? ko::int8conv::quantize(
                           x[static_cast<size_t>(((n * g.inChannels + ci) * g.height + iy) * g.width + ix)],
                           quantization)
                     : 37;
          ASSERT_EQ(q[static_cast<size_t>(((n * height + row) * width + column) * pixelBytes + ci)], expected)
              << "image " << n << " row " << row << " column " << column << " channel " << ci;
        }
      }
    }
  }
}

TEST(Int8ConvKernel, EveryPathGivesTheSameOutputsAsAFloatConvolutionOfTheDequantisedTensors) {
  uint32_t seed = 1;
  for (const int64_t stride : {1, 2}) {
    for (const int64_t pad : {0, 1, 2}) {
      for (const int64_t dilation : {1, 2}) {
        const Int8ConvCase c = geometryCase(stride, pad, dilation, ++seed);
        expectEveryPathMatches(c, uniform(elements(c.xShape), -1.5f, 2.5f, seed),
                               "stride " + std::to_string(stride) + " pad " + std::to_string(pad) +
                                   " dilation " + std::to_string(dilation));
      }
    }
  }
}

TEST(Int8ConvKernel, EveryPathAgreesOnRowsWiderThanItsTilesAndManyChannels) {
  // 66 input channels: sixteen whole quads and a padded one; 40 output channels: two whole blocks
  // and half of one; 45 columns: whole tiles and a remainder on every path.
  Int8ConvCase c = ko::test::randomInt8Conv({1, 66, 6, 45}, {40, 66, 3, 3}, 51);
  c.pads = {1, 1, 1, 1};
  expectEveryPathMatches(c, uniform(elements(c.xShape), -0.5f, 3.0f, 52), "wide rows");
}

// The paths follow the vector widths Highway grants, so restricting its targets restricts them too.
TEST(Int8ConvKernel, PathsFollowHighwaysTargets) {
  const ko::test::TargetRestriction sse4(HWY_SSE4);
  EXPECT_EQ(supportedPaths(), std::vector<DotPath>{DotPath::scalar});
}

TEST(Int8ConvKernel, ConstantAndPositiveActivationsFollowTheQuantisationRules) {
  Int8ConvCase c = ko::test::randomInt8Conv({1, 5, 9, 9}, {9, 5, 3, 3}, 42);
  c.pads = {1, 1, 1, 1};
  expectEveryPathMatches(c, std::vector<float>(elements(c.xShape), -3.6f), "constant");
  expectEveryPathMatches(c, uniform(elements(c.xShape), 0.25f, 4.0f, 43), "positive");
}

Ort::Session openSession(const std::vector<uint8_t>& model, bool int8Domain) {
  return ko::test::openSession(model, 1, int8Domain ? ko::registerInt8ConvVNNI : nullptr);
}

std::vector<float> run(Ort::Session& session, const std::vector<float>& x,
                       const std::vector<int64_t>& shape) {
  return ko::test::runSession(session, {{"X", {shape, x}}}, {"Y"}).at(0).values;
}

TEST(Int8ConvOperator, AgreesWithOnnxRuntimesConvOnTheDequantisedTensors) {
  for (const Int8ConvCase& c : {geometryCase(1, 1, 1, 7), geometryCase(2, 2, 2, 8)}) {
    const std::vector<float> x = uniform(elements(c.xShape), -2.0f, 1.0f, 9);
    const std::vector<float> xq = dequantisedActivation(x);
    Ort::Session int8 = openSession(ko::test::int8ConvModel(c), true);
    Ort::Session conv = openSession(ko::test::floatConvModel(c), false);
    const std::vector<float> y = run(int8, x, c.xShape);
    const std::vector<float> expected = run(conv, xq, c.xShape);
    const Reference ref = floatConvolution(c, xq);
    ASSERT_EQ(y.size(), expected.size());
    for (size_t i = 0; i < y.size(); ++i) {
      ASSERT_NEAR(y[i], expected[i], 2e-5f * ref.magnitude[i] + 1e-6f) << i;
    }
  }
}

// Writes Y into `y`, which the caller owns: ONNX Runtime's arena would otherwise hand one thread's
// freed output to the other, a hand-over its uninstrumented locks hide from ThreadSanitizer. The
// weights go in as the input "W" when the model reads them so.
void runInto(Ort::Session& session, std::vector<float> x, Int8ConvCase c, std::vector<float>& y,
             bool weightsAsInput = false) {
  const Ort::MemoryInfo memory = Ort::MemoryInfo::CreateCpu(OrtArenaAllocator, OrtMemTypeDefault);
  const std::vector<int64_t> outShape = c.outShape();
  const std::array<Ort::Value, 2> inputs{
      Ort::Value::CreateTensor<float>(memory, x.data(), x.size(), c.xShape.data(), c.xShape.size()),
      Ort::Value::CreateTensor<int8_t>(memory, c.weights.data(), c.weights.size(), c.weightShape.data(),
                                       c.weightShape.size())};
  Ort::Value output =
      Ort::Value::CreateTensor<float>(memory, y.data(), y.size(), outShape.data(), outShape.size());
  const std::array<const char*, 2> inNames{"X", "W"};
  const char* outName = "Y";
  session.Run(Ort::RunOptions{nullptr}, inNames.data(), inputs.data(), weightsAsInput ? 2 : 1, &outName,
              &output, 1);
}

TEST(Int8ConvOperator, UsesEachRunsWeightsWhenTheyAreAGraphInput) {
  Int8ConvCase c = geometryCase(1, 1, 1, 21);
  Ort::Session session = openSession(ko::test::int8ConvModel(c, true), true);
  const std::vector<float> x = uniform(elements(c.xShape), -1.0f, 1.0f, 22);
  for (const uint32_t seed : {23u, 24u}) {
    c.weights = ko::test::randomInt8Conv(c.xShape, c.weightShape, seed).weights;
    std::vector<float> y(elements(c.outShape()));
    runInto(session, x, c, y, true);
    expectNear(y, floatConvolution(c, dequantisedActivation(x)), "seed " + std::to_string(seed));
  }
}

TEST(Int8ConvOperator, RunsOfOneSessionFromTwoThreadsKeepTheirOwnResults) {
  const Int8ConvCase c = geometryCase(1, 1, 1, 61);
  Ort::Session session = openSession(ko::test::int8ConvModel(c), true);
  const std::array<std::vector<float>, 2> inputs{uniform(elements(c.xShape), -1.0f, 1.0f, 62),
                                                 uniform(elements(c.xShape), -3.0f, 0.5f, 63)};
  const std::array<std::vector<float>, 2> alone{run(session, inputs[0], c.xShape),
                                                run(session, inputs[1], c.xShape)};
  std::array<int, 2> mismatches{};
  {
    std::array<std::jthread, 2> runners;
    for (size_t i = 0; i < runners.size(); ++i) {
      runners[i] = std::jthread([&, i] {
        std::vector<float> y(elements(c.outShape()));
        for (int repeat = 0; repeat < 20; ++repeat) {
          runInto(session, inputs[i], c, y);
          mismatches[i] += y != alone[i];
        }
      });
    }
  }
  EXPECT_EQ(mismatches, (std::array<int, 2>{0, 0}));
}

TEST(Int8ConvOperator, LoadsOnlyWhereItsDomainIsRegistered) {
  const std::vector<uint8_t> model = ko::test::int8ConvModel(geometryCase(1, 1, 1, 3));
  const std::string unregistered = ko::test::failureText([&] { openSession(model, false); });
  EXPECT_NE(unregistered.find("com.quandrel.int8:Int8ConvVNNI"), std::string::npos) << unregistered;
}

TEST(Int8ConvOperator, RefusesGroupedConvolutionWhenTheKernelIsCreated) {
  Int8ConvCase c = ko::test::randomInt8Conv({1, 4, 6, 6}, {4, 2, 3, 3}, 5);
  c.group = 2;
  const std::string failure = ko::test::failureText([&] { openSession(ko::test::int8ConvModel(c), true); });
  EXPECT_NE(failure.find("Int8ConvVNNI: group 2 is not supported, only group 1"), std::string::npos)
      << failure;
}

TEST(Int8ConvOperator, FailsTheRunOnTensorsThatDoNotFitTheWeights) {
  const Int8ConvCase c = geometryCase(1, 1, 1, 11);
  Ort::Session session = openSession(ko::test::int8ConvModel(c), true);
  const std::vector<int64_t> wrongChannels{2, 5, 11, 14};
  const std::string failure = ko::test::failureText(
      [&] { run(session, std::vector<float>(elements(wrongChannels), 1.0f), wrongChannels); });
  EXPECT_NE(failure.find("Int8ConvVNNI: X has 5 channels, weights expect 6"), std::string::npos) << failure;
}

TEST(Int8ConvOperator, ShapeChecksNameTheFirstMisfit) {
  const ko::Int8ConvAttributes a;
  const auto check = [&](std::vector<int64_t> x, std::vector<int64_t> w, std::vector<int64_t> s,
                         std::vector<int64_t> b) {
    return ko::test::failureText([&] { ko::checkInt8ConvShapes(a, x, w, s, b); });
  };
  EXPECT_EQ(check({1, 4, 8}, {8, 4, 3, 3}, {8}, {8}),
            "Int8ConvVNNI: X must be 4-D [N, Cin, H, W], got [1, 4, 8]");
  EXPECT_EQ(check({1, 4, 8, 8}, {8, 4, 3}, {8}, {8}),
            "Int8ConvVNNI: weights must be 4-D [Cout, Cin, KH, KW], got [8, 4, 3]");
  EXPECT_EQ(check({1, 4, 8, 8}, {8, 4, 3, 3}, {7}, {8}), "Int8ConvVNNI: weight scales must be [8], got [7]");
  EXPECT_EQ(check({1, 4, 8, 8}, {8, 4, 3, 3}, {8}, {1, 8}), "Int8ConvVNNI: bias must be [8], got [1, 8]");
  EXPECT_EQ(check({1, 4, 2, 8}, {8, 4, 3, 3}, {8}, {8}),
            "Int8ConvVNNI: dilated kernel [3, 3] is larger than the padded input [2, 8]");
  EXPECT_EQ(check({1, 4096, 8, 8}, {8, 4096, 5, 5}, {8}, {8}),
            "Int8ConvVNNI: weights [8, 4096, 5, 5] exceed 65536 products per output");
  EXPECT_EQ(check({1, 4, 8, 8}, {8, 4, 3, 3}, {8}, {8}), ko::test::kNoFailure);
  ko::Int8ConvAttributes zeroStride;
  zeroStride.strideW = 0;
  EXPECT_EQ(ko::test::failureText([&] { ko::checkInt8ConvAttributes(zeroStride); }),
            "Int8ConvVNNI: strides must be between 1 and 65536, got [1, 0]");
}

}  // namespace
