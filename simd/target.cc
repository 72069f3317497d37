// Names the target the kernels dispatch to. It goes through the same dynamic dispatch as every
// kernel, so it reports the choice actually made (tests that restrict the targets see it change).
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "simd/target.cc"
#include "hwy/foreach_target.h"  // IWYU pragma: keep

#include "hwy/highway.h"
#include "simd/simd.h"

HWY_BEFORE_NAMESPACE();
namespace ko::simd::HWY_NAMESPACE {

const char* TargetName() {
  return hwy::TargetName(HWY_TARGET);
}

}  // namespace ko::simd::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace ko::simd {

HWY_EXPORT(TargetName);

const char* target() {
  return HWY_DYNAMIC_DISPATCH(TargetName)();
}

}  // namespace ko::simd
#endif
