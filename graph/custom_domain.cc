#include "graph/custom_domain.h"

#include <onnxruntime_cxx_api.h>

#include "graph/gridsample_fast_op.h"

namespace ko {
namespace {

constexpr const char* kDomainName = "com.quandrel";

Ort::CustomOpDomain createDomain() {
  Ort::CustomOpDomain domain(kDomainName);
  domainOps(domain);
  return domain;
}

}  // namespace

Ort::CustomOpDomain& quandrelDomain() {
  static Ort::CustomOpDomain domain = createDomain();
  return domain;
}

void domainOps(Ort::CustomOpDomain& domain) {
  for (const OrtCustomOp* op : {gridSampleFastOp()}) domain.Add(op);
}

void registerGridSampleFast(Ort::SessionOptions& options) {
  options.Add(quandrelDomain());
}

}  // namespace ko
