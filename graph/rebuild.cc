#include "graph/rebuild.h"

#include <utility>

#include "graph/onnx_read.h"
#include "graph/onnx_schema.h"
#include "graph/onnx_write.h"

namespace ko {
namespace {

constexpr size_t kGrowthReserve = 256;
const std::string kPrgb = "P_rgb";

bool keepInput(const GsField& input, const GsGraphEdit& edit) {
  const bool isPrgb = gsFirstStr(input.payload, onnx::kValueInfoName) == kPrgb;
  if (edit.keepOnlyPrgbInput) return isPrgb && !edit.dropPrgbInput;
  return !(edit.dropPrgbInput && isPrgb);
}

bool keepValueInfo(const GsField& valueInfo, const GsGraphEdit& edit) {
  return edit.addName == nullptr || gsFirstStr(valueInfo.payload, onnx::kValueInfoName) != *edit.addName;
}

class GraphEditor {
 public:
  GraphEditor(const GsGraphEdit& edit, size_t sizeHint) : edit_(edit) {
    body_.reserve(sizeHint + kGrowthReserve);
  }

  void walk(GsSlice graph) {
    GsReader reader(graph);
    GsField field;
    while (reader.next(field)) {
      if (keep(field)) gsPutRaw(body_, field.raw.data, field.raw.size);
    }
  }

  std::vector<uint8_t> finish() {
    if (edit_.addName != nullptr && edit_.addField != 0) {
      gsPutTensorValueInfo(body_, edit_.addField, *edit_.addName, edit_.addDims, edit_.addRank);
    }
    return std::move(body_);
  }

 private:
  bool keep(const GsField& field) {
    if (gsIsMessage(field, onnx::kGraphNode)) return !dropNode(nodeIndex_++);
    if (gsIsMessage(field, onnx::kGraphInput)) return keepInput(field, edit_);
    if (gsIsMessage(field, onnx::kGraphOutput)) return !edit_.dropOutputs;
    if (gsIsMessage(field, onnx::kGraphValueInfo)) return keepValueInfo(field, edit_);
    return true;
  }

  bool dropNode(size_t index) const {
    const std::vector<uint8_t>* drops = edit_.nodeDrops;
    return drops != nullptr && index < drops->size() && (*drops)[index] != 0;
  }

  const GsGraphEdit& edit_;
  std::vector<uint8_t> body_;
  size_t nodeIndex_ = 0;
};

}  // namespace

void gsRebuild(GsSlice model, const GsGraphEdit& edit, std::vector<uint8_t>& out) {
  // Built aside and swapped in, so `model` may even point into `out`.
  std::vector<uint8_t> rebuilt;
  rebuilt.reserve(model.size + kGrowthReserve);
  std::vector<GsSlice> graphs;
  GsReader reader(model);
  GsField field;
  while (reader.next(field)) {
    if (gsIsMessage(field, onnx::kModelGraph)) {
      graphs.push_back(field.payload);
    } else {
      gsPutRaw(rebuilt, field.raw.data, field.raw.size);
    }
  }
  if (!graphs.empty()) {
    // Protocol buffers merge repeated occurrences of a message field; one body holding all of them in
    // order is the same graph to every reader.
    GraphEditor editor(edit, graphs.front().size);
    for (GsSlice graph : graphs) editor.walk(graph);
    gsPutMessage(rebuilt, onnx::kModelGraph, editor.finish());
  }
  out.swap(rebuilt);
}

}  // namespace ko
