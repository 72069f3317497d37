#include "graph/custom_domain.h"

#include <onnxruntime_cxx_api.h>

#include <initializer_list>

#include "graph/gridsample_fast_op.h"
#include "graph/int8_conv.h"
#include "graph/warp_director_op.h"

namespace ko {
namespace {

template <class AddOps>
Ort::CustomOpDomain createDomain(const char* name, AddOps addOps) {
  Ort::CustomOpDomain domain(name);
  addOps(domain);
  return domain;
}

void addAll(Ort::CustomOpDomain& domain, std::initializer_list<const OrtCustomOp*> ops) {
  for (const OrtCustomOp* op : ops) domain.Add(op);
}

}  // namespace

Ort::CustomOpDomain& quandrelDomain() {
  static Ort::CustomOpDomain domain = createDomain("com.quandrel", domainOps);
  return domain;
}

void domainOps(Ort::CustomOpDomain& domain) {
  addAll(domain, {gridSampleFastOp(), warpDirectorOp()});
}

Ort::CustomOpDomain& quandrelInt8Domain() {
  static Ort::CustomOpDomain domain =
      createDomain("com.quandrel.int8", [](Ort::CustomOpDomain& d) { addAll(d, {int8ConvOp()}); });
  return domain;
}

void registerInt8ConvVNNI(Ort::SessionOptions& options) {
  options.Add(quandrelInt8Domain());
}

void registerGridSampleFast(Ort::SessionOptions& options) {
  options.Add(quandrelDomain());
}

void registerWarpDirector(Ort::SessionOptions& options) {
  options.Add(quandrelDomain());
}

}  // namespace ko
