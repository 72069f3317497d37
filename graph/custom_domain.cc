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

// ONNX Runtime refuses to create a session whose options name a domain twice, and both operators'
// callers register "com.quandrel"; a config entry remembers that these options already hold it.
constexpr const char* kQuandrelAdded = "ko.quandrel_domain_added";

void addQuandrelOnce(Ort::SessionOptions& options) {
  if (options.HasConfigEntry(kQuandrelAdded)) return;
  options.Add(quandrelDomain());
  options.AddConfigEntry(kQuandrelAdded, "1");
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
  addQuandrelOnce(options);
}

void registerWarpDirector(Ort::SessionOptions& options) {
  addQuandrelOnce(options);
}

}  // namespace ko
