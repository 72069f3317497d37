// libFuzzer target for the ONNX codec: every reader, the rebuild, the load-time rewrites, the lip bind
// and the source-cone split run over arbitrary bytes. Only the codec's three decoding errors may leave a
// reader; any other exception, a sanitizer report or a broken invariant below is a finding.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <string>
#include <unordered_set>
#include <vector>

#include "graph/graph.h"
#include "graph/onnx_read.h"
#include "graph/onnx_wire.h"
#include "graph/rebuild.h"

namespace ko {
namespace {

using Bytes = std::vector<uint8_t>;

// Deep enough for model → graph → node → attribute → tensor and the shape chain of a value info.
constexpr int kMaxDepth = 7;

bool isDecodeError(const char* text) {
  return std::strcmp(text, "onnx: bad varint") == 0 || std::strcmp(text, "onnx: truncated") == 0 ||
         std::strcmp(text, "onnx: bad wire type") == 0;
}

void require(bool holds, const char* invariant) {
  if (holds) return;
  std::fprintf(stderr, "codec invariant broken: %s\n", invariant);
  std::abort();
}

// Runs one reader; false when it met malformed bytes. Any other exception escapes and ends the run.
bool decodes(const std::function<void()>& reader) {
  try {
    reader();
    return true;
  } catch (const std::runtime_error& failure) {
    if (!isDecodeError(failure.what())) throw;
    return false;
  }
}

bool within(GsSlice inner, GsSlice outer) {
  if (inner.size == 0) return true;
  return inner.size <= outer.size && inner.data >= outer.data &&
         static_cast<size_t>(inner.data - outer.data) <= outer.size - inner.size;
}

Bytes copyOf(GsSlice span) {
  return span.size == 0 ? Bytes() : Bytes(span.data, span.data + span.size);
}

void readAsMessage(GsSlice payload) {
  std::vector<int64_t> dims;
  std::vector<float> floats;
  std::vector<std::string> strings;
  decodes([&] { hcTensorDims(payload, dims); });
  decodes([&] { require(hcTensorFloats(payload, floats) == !floats.empty(), "floats reported as read"); });
  decodes([&] {
    const GsSlice value = hcConstValue(payload);
    require(within(value, payload), "constant value inside its node");
    hcTensorDims(value, dims);
    hcTensorFloats(value, floats);
  });
  decodes([&] { gsAllStr(payload, 1, strings); });
  decodes([&] { gsFirstStr(payload, 2); });
}

// Every field's spans lie inside the message and re-emitted raw spans reproduce it.
void walk(GsSlice message, int depth) {
  Bytes copy;
  GsReader reader(message);
  GsField field;
  while (reader.next(field)) {
    require(within(field.raw, message), "raw span inside the message");
    gsPutRaw(copy, field.raw.data, field.raw.size);
    if (field.wireType != kGsLengthDelimited) continue;
    require(within(field.payload, field.raw), "payload inside the raw span");
    require(hcPayload(field.raw).data == field.payload.data, "hcPayload finds the payload");
    readAsMessage(field.payload);
    if (depth < kMaxDepth) decodes([&] { walk(field.payload, depth + 1); });
  }
  require(copy == copyOf(message), "raw spans reproduce the message");
}

void readGraph(GsSlice model) {
  GsSlice graph;
  if (!decodes([&] { graph = gsGraphOf(model); })) return;
  require(within(graph, model), "graph inside the model");
  std::vector<GsNodeInfo> nodes;
  std::unordered_set<std::string> initializers;
  std::unordered_set<std::string> inputs;
  if (!decodes([&] { gsReadGraph(graph, nodes, initializers, inputs); })) return;
  for (const GsNodeInfo& node : nodes) {
    require(within(node.raw, graph), "node inside the graph");
    readAsMessage(hcPayload(node.raw));
  }
  inputs.insert("P_rgb");
  for (const std::string& name : inputs) {
    int64_t first = 0, last = 0, rank = -1;
    decodes([&] { ldInputDims(graph, name, first, last, rank); });
    require(rank >= 0, "input rank");
  }
}

// A rebuilt model decodes at the model and graph level, whatever its graph's nodes hold.
void checkRebuilt(const Bytes& out) {
  require(decodes([&] {
            GsReader reader(gsSliceOf(out));
            GsField field;
            while (reader.next(field)) {
            }
            GsReader graphReader(gsGraphOf(gsSliceOf(out)));
            while (graphReader.next(field)) {
            }
          }),
          "rebuilt model decodes");
}

void rebuild(GsSlice model) {
  Bytes plain;
  if (!decodes([&] { gsRebuild(model, {}, plain); })) return;
  checkRebuilt(plain);
  Bytes again;
  gsRebuild(gsSliceOf(plain), {}, again);
  require(again == plain, "a rebuilt model rebuilds to itself");

  const Bytes alternate{1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1};
  const std::string added = "P_rgb";
  const int64_t dims[] = {1, -1, 64};
  GsGraphEdit edits[4];
  edits[0].nodeDrops = &alternate;
  edits[0].dropPrgbInput = true;
  edits[1].keepOnlyPrgbInput = true;
  edits[1].addName = &added;
  edits[1].addField = 11;
  edits[1].addRank = 4;
  edits[2].dropOutputs = true;
  edits[2].addName = &added;
  edits[2].addDims = dims;
  edits[2].addRank = 3;
  edits[2].addField = 12;
  edits[3].keepOnlyPrgbInput = true;
  edits[3].dropPrgbInput = true;
  for (const GsGraphEdit& edit : edits) {
    Bytes out;
    if (decodes([&] { gsRebuild(model, edit, out); })) checkRebuilt(out);
  }
}

// A rewrite either leaves the bytes as they were or yields a decodable model holding GridSampleFast
// with nothing left to rewrite.
void rewriteGridSample(GsSlice model) {
  Bytes bytes = copyOf(model);
  size_t count = 0;
  if (!decodes([&] { count = rewriteGridSampleToFast(bytes); }) || count == 0) {
    require(bytes == copyOf(model), "a declined rewrite leaves the bytes");
    return;
  }
  checkRebuilt(bytes);
  require(graphHasBakedGridSampleFast(bytes), "a rewritten model holds GridSampleFast");
  Bytes again = bytes;
  require(rewriteGridSampleToFast(again) == 0 && again == bytes,
          "a rewritten model has nothing left to rewrite");
}

// The same for a rewrite that reports how many nodes it changed and has no marker to look for.
void rewriteOnce(GsSlice model, size_t (*rewrite)(Bytes&)) {
  Bytes bytes = copyOf(model);
  size_t count = 0;
  if (!decodes([&] { count = rewrite(bytes); }) || count == 0) {
    require(bytes == copyOf(model), "a declined rewrite leaves the bytes");
    return;
  }
  checkRebuilt(bytes);
  Bytes again = bytes;
  require(rewrite(again) == 0 && again == bytes, "a rewritten model has nothing left to rewrite");
}

// Either half of a cone split is produced whole or not at all.
void splitCone(GsSlice model) {
  const Bytes bytes = copyOf(model);
  std::string boundary;
  if (!decodes([&] { findSourceConeBoundary(bytes, boundary); })) return;
  const int64_t dims[] = {1, 12, 0, 64};
  Bytes prep;
  Bytes perFrame;
  std::string reason;
  size_t count = 0;
  if (decodes([&] { count = buildSourceConePrep(bytes, boundary, prep, reason); })) {
    require(count != 0 ? reason.empty() : !reason.empty() && prep.empty(), "prep built or refused");
    if (count != 0) checkRebuilt(prep);
  }
  if (decodes([&] { count = buildSourceConePerFrame(bytes, boundary, dims, 4, perFrame, reason); })) {
    require(count != 0 ? reason.empty() : !reason.empty() && perFrame.empty(), "per-frame built or refused");
    if (count != 0) checkRebuilt(perFrame);
  }
}

// The warp rewrite either declines with a reason and the bytes as they were, or yields a decodable
// model with the WarpDirector node whose cone is gone.
void rewriteWarpBlock(GsSlice model) {
  Bytes bytes = copyOf(model);
  std::string reason;
  size_t count = 0;
  if (!decodes([&] { count = rewriteWarpBlockToCustomOp(bytes, reason); }) || count == 0) {
    require(bytes == copyOf(model), "a declined warp rewrite leaves the bytes");
    return;
  }
  require(reason.empty(), "a warp rewrite reports no reason");
  checkRebuilt(bytes);
  Bytes again = bytes;
  require(rewriteWarpBlockToCustomOp(again, reason) == 0 && !reason.empty() && again == bytes,
          "a rewritten model has no warp block left");
}

// The lip bind either refuses with a reason, the bytes as they were and no canvas, or yields a decodable
// model that refuses a second bind.
void bindLipContour(GsSlice model) {
  Bytes bytes = copyOf(model);
  std::string reason;
  int32_t canvas = -1;
  int32_t batch = -1;
  bool bound = false;
  if (!decodes([&] { bound = rewriteBindLipContour(bytes, reason, &canvas, &batch); }) || !bound) {
    require(bytes == copyOf(model) && canvas == 0 && batch == 0, "a refused lip bind leaves the bytes");
    return;
  }
  require(reason.empty() && canvas > 0 && batch >= 0, "a lip bind reports its canvas");
  checkRebuilt(bytes);
  Bytes again = bytes;
  require(!rewriteBindLipContour(again, reason, nullptr, nullptr) && again == bytes,
          "a bound model refuses a second bind");
}

}  // namespace
}  // namespace ko

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const ko::GsSlice input{data, size};
  ko::decodes([&] { ko::walk(input, 0); });
  ko::readAsMessage(input);
  ko::readGraph(input);
  ko::rebuild(input);
  ko::rewriteGridSample(input);
  ko::rewriteOnce(input, ko::rewriteHeadCubicResize);
  ko::rewriteOnce(input, ko::normaliseStudentBlend);
  ko::rewriteOnce(input, ko::gsDropUnreadInitializers);
  ko::splitCone(input);
  ko::rewriteWarpBlock(input);
  ko::bindLipContour(input);
  return 0;
}
