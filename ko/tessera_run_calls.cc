// The exported offline teeth runs: the pass over an array of crops whose masks the caller supplies,
// one window (or a skip) per frame, in frame order.
#include <cstring>
#include <stdexcept>
#include <string>
#include <string_view>

#include "ko/bank_args.h"
#include "ko/err_buffer.h"
#include "ko/ko.h"
#include "tessera/tessera.h"

namespace {

using ko::tessera::BankData;
using ko::tessera::FrameResult;
using ko::tessera::FrameShift;
using ko::tessera::GeometryStamp;

constexpr int32_t kNoShift = -10000;

struct RunArgs {
  const char* call = "";
  ko::BankArgs bank;
  const int32_t* stamp = nullptr;
  std::string_view headPt;
  const char* headJson = nullptr;
  const uint8_t* crops = nullptr;
  const uint8_t* pis = nullptr;
  const int32_t* shifts = nullptr;
  int32_t nFrames = 0;
  uint8_t* outWindows = nullptr;
  uint32_t* outSkipped = nullptr;
};

void refuseNulls(const RunArgs& a) {
  const bool frameArrays = a.nFrames == 0 || (a.crops && a.pis && a.outWindows && a.outSkipped);
  if (!a.bank.bank || !a.bank.cent || !a.bank.cCanon || !a.bank.aperture || !a.stamp || !a.headPt.data() ||
      !a.headJson || !frameArrays) {
    throw std::invalid_argument(std::string(a.call) + ": null argument");
  }
  if (a.nFrames < 0) throw std::invalid_argument(std::string(a.call) + ": n_frames is negative");
}

int run(const RunArgs& a) {
  refuseNulls(a);
  const GeometryStamp stamp = GeometryStamp::fromFields(a.stamp);
  stamp.validate();
  const BankData bank = ko::copyBank(a.bank, stamp);
  const ko::tessera::ServeConfig config = ko::tessera::ServeConfig::fromHeadMemberJson(a.headJson);
  ko::tessera::TeethPass pass(bank, ko::tessera::loadHeadPt(a.headPt), config);
  const GeometryStamp& s = bank.stamp;
  const size_t cropPixels = static_cast<size_t>(s.canvas_w) * static_cast<size_t>(s.canvas_h);
  const size_t windowBytes = static_cast<size_t>(s.window_w) * static_cast<size_t>(s.window_h) * 3;
  int32_t returned = 0;
  const auto deliver = [&](const FrameResult& result) {
    a.outSkipped[returned] = result.skipped ? 1u : 0u;
    if (!result.skipped)
      std::memcpy(a.outWindows + windowBytes * static_cast<size_t>(returned), result.window.data(),
                  windowBytes);
    ++returned;
  };
  FrameResult result;
  for (int32_t i = 0; i < a.nFrames; ++i) {
    const size_t frame = static_cast<size_t>(i);
    const int32_t* pair = a.shifts ? a.shifts + 2 * frame : nullptr;
    const FrameShift shift = pair ? FrameShift{pair[0], pair[1]} : FrameShift{};
    const bool given = pair && pair[0] != kNoShift;
    if (pass.push(i, a.crops + cropPixels * 3 * frame, a.pis + cropPixels * frame, given ? &shift : nullptr,
                  result)) {
      deliver(result);
    }
  }
  if (pass.flush(result)) deliver(result);
  if (returned != a.nFrames) {
    throw std::runtime_error("teeth: emitted " + std::to_string(returned) + " of " +
                             std::to_string(a.nFrames) + " frames");
  }
  return 0;
}

// Both exported calls in one: they differ only in their name and whether shifts are given.
int runCall(const char* call, const uint8_t* bank, int32_t n_donors, const double* cent,
            const double* c_canon, const double* aperture, const int32_t* stamp, const uint8_t* head_pt,
            uint32_t head_pt_len, const char* head_json, const uint8_t* crops, const uint8_t* pis,
            const int32_t* shifts, int32_t n_frames, uint8_t* out_windows, uint32_t* out_skipped, char* err,
            int32_t err_len) {
  ko::fill_err(err, err_len, "");
  const std::string_view headPt(reinterpret_cast<const char*>(head_pt), head_pt ? head_pt_len : 0u);
  const RunArgs args{call,       {bank, n_donors, cent, c_canon, aperture},
                     stamp,      headPt,
                     head_json,  crops,
                     pis,        shifts,
                     n_frames,   out_windows,
                     out_skipped};
  return ko::withErr("teeth", err, err_len, 1, [&] { return run(args); });
}

}  // namespace

extern "C" {

KO_API int ko_tessera_run_shift(const uint8_t* bank, int32_t n_donors, const double* cent,
                                const double* c_canon, const double* aperture, const int32_t* stamp,
                                const uint8_t* head_pt, uint32_t head_pt_len, const char* head_json,
                                const uint8_t* crops, const uint8_t* pis, const int32_t* shifts,
                                int32_t n_frames, uint8_t* out_windows, uint32_t* out_skipped, char* err,
                                int32_t err_len) {
  return runCall("ko_tessera_run_shift", bank, n_donors, cent, c_canon, aperture, stamp, head_pt, head_pt_len,
                 head_json, crops, pis, shifts, n_frames, out_windows, out_skipped, err, err_len);
}

KO_API int ko_tessera_run(const uint8_t* bank, int32_t n_donors, const double* cent, const double* c_canon,
                          const double* aperture, const int32_t* stamp, const uint8_t* head_pt,
                          uint32_t head_pt_len, const char* head_json, const uint8_t* crops,
                          const uint8_t* pis, int32_t n_frames, uint8_t* out_windows, uint32_t* out_skipped,
                          char* err, int32_t err_len) {
  return runCall("ko_tessera_run", bank, n_donors, cent, c_canon, aperture, stamp, head_pt, head_pt_len,
                 head_json, crops, pis, nullptr, n_frames, out_windows, out_skipped, err, err_len);
}

}  // extern "C"
