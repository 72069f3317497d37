// Int8ConvVNNI against ONNX Runtime's float Conv (on the dequantised weights) and its QLinearConv
// (activation quantised by DynamicQuantizeLinear, the output dequantised again), one 3x3 same-size
// convolution per model. The operator works on the library's pool, so ONNX Runtime gets the same
// number of intra-op threads: ko::pool::threads(). Each count (1 and 2) runs in a process of its own,
// since the pool reads its size once per process.
#include <benchmark/benchmark.h>
#include <onnxruntime_cxx_api.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "bench/support/ratio_report.h"
#include "bench/support/thread_runs.h"
#include "graph/custom_domain.h"
#include "graph/int8_conv_kernels.h"
#include "graph/onnx_schema.h"
#include "pool/pool.h"
#include "tests/support/authoring.h"
#include "tests/support/int8_conv_model.h"
#include "tests/support/ort_run.h"

namespace {

using ko::test::Int8ConvCase;
using ko::test::ModelBuilder;
using ko::test::TensorData;

enum class Form { int8Vnni, floatConv, qlinearConv };

struct Shape {
  int64_t channels;
  int64_t side;
  std::string label() const {
    return std::to_string(channels) + "to" + std::to_string(channels) + "_" + std::to_string(side) + "x" +
           std::to_string(side) + "_t" + std::to_string(ko::pool::threads());
  }
};

Int8ConvCase convCase(const Shape& s) {
  Int8ConvCase c =
      ko::test::randomInt8Conv({1, s.channels, s.side, s.side}, {s.channels, s.channels, 3, 3}, 1);
  c.pads = {1, 1, 1, 1};
  return c;
}

TensorData scalar(int32_t elemType, std::vector<uint8_t> raw) {
  return {elemType, {}, std::move(raw)};
}

// Output scale fixed from the expected spread of the outputs; what matters here is the time.
std::vector<uint8_t> qlinearConvModel(const Int8ConvCase& c) {
  constexpr int32_t kUint8 = 2;
  const int64_t cout = c.weightShape[0];
  ModelBuilder m;
  m.opset(17)
      .input("X", {"N", "C", "H", "W"})
      .output("Y", {"N", cout, "OH", "OW"})
      .initializer("W", ko::test::int8Tensor(c.weightShape, c.weights))
      .initializer("WS", ko::test::floatTensor({cout}, c.weightScales))
      .initializer("WZ", ko::test::int8Tensor({cout}, std::vector<int8_t>(static_cast<size_t>(cout), 0)))
      .initializer("YS", ko::test::floatTensor({}, {0.05f}))
      .initializer("YZ", scalar(kUint8, {128}))
      .node("DynamicQuantizeLinear", {"X"}, {"XQ", "XS", "XZ"})
      .node("QLinearConv", {"XQ", "XS", "XZ", "W", "WS", "WZ", "YS", "YZ"}, {"YQ"})
      .attrInts("pads", c.pads)
      .node("DequantizeLinear", {"YQ", "YS", "YZ"}, {"Y"});
  return m.bytes();
}

std::vector<uint8_t> modelFor(Form form, const Int8ConvCase& c) {
  switch (form) {
    case Form::int8Vnni:
      return ko::test::int8ConvModel(c);
    case Form::floatConv:
      return ko::test::floatConvModel(c);
    case Form::qlinearConv:
      break;
  }
  return qlinearConvModel(c);
}

void runConv(benchmark::State& state, Form form, const Shape& s) {
  const Int8ConvCase c = convCase(s);
  Ort::SessionOptions options;
  options.SetIntraOpNumThreads(ko::pool::threads());
  if (form == Form::int8Vnni) ko::registerInt8ConvVNNI(options);
  const std::vector<uint8_t> model = modelFor(form, c);
  Ort::Session session(ko::test::ortEnv(), model.data(), model.size(), options);
  std::mt19937 rng(2);
  std::uniform_real_distribution<float> value(-1.0f, 2.0f);
  std::vector<float> x(static_cast<size_t>(s.channels * s.side * s.side));
  for (float& v : x) v = value(rng);
  const Ort::MemoryInfo memory = Ort::MemoryInfo::CreateCpu(OrtArenaAllocator, OrtMemTypeDefault);
  const Ort::Value input =
      Ort::Value::CreateTensor<float>(memory, x.data(), x.size(), c.xShape.data(), c.xShape.size());
  const char* inName = "X";
  const char* outName = "Y";
  for (auto _ : state) {
    benchmark::DoNotOptimize(session.Run(Ort::RunOptions{nullptr}, &inName, &input, 1, &outName, 1));
  }
  // Multiply-accumulates per run.
  state.SetItemsProcessed(state.iterations() * s.channels * s.channels * 9 * s.side * s.side);
}

int runAtPoolSize(int argc, char** argv) {
  std::printf("int8 dot products on %s, %d threads, ONNX Runtime %s\n",
              ko::int8conv::pathName(ko::int8conv::bestDotPath()), ko::pool::threads(),
              Ort::GetVersionString().c_str());
  std::vector<ko::bench::Comparison> comparisons;
  for (const Shape s : {Shape{64, 128}, Shape{32, 256}}) {
    const std::string ours = "BM_Int8ConvVNNI_" + s.label();
    const std::string floatConv = "BM_OrtConv_" + s.label();
    const std::string qlinear = "BM_OrtQLinearConv_" + s.label();
    benchmark::RegisterBenchmark(ours.c_str(), runConv, Form::int8Vnni, s)->UseRealTime();
    benchmark::RegisterBenchmark(floatConv.c_str(), runConv, Form::floatConv, s)->UseRealTime();
    benchmark::RegisterBenchmark(qlinear.c_str(), runConv, Form::qlinearConv, s)->UseRealTime();
    comparisons.push_back({ours, floatConv});
    comparisons.push_back({ours, qlinear});
  }
  return ko::bench::runWithRatios(argc, argv, comparisons);
}

}  // namespace

int main(int argc, char** argv) {
  return ko::bench::forEachThreadCount({1, 2}, [&](int) { return runAtPoolSize(argc, argv); });
}
