// Every exported call given a missing handle or buffer (or, without arguments, called as it is),
// through the shared library alone: what it returns and what its family's last-error text then
// says. A call that can fail clears the text on entry, so each row first leaves an older failure's
// text behind; calls that cannot fail must leave it as it was. The exported-symbols test fails when
// an exported call is missing here.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "ko/ko.h"
#include "ko/ko_a2x.h"

namespace {

using LastError = const char* (*)();

// One family: its last-error call and a call that fails with a known text.
struct Family {
  LastError text;
  std::function<void()> leaveStale;
};

char errBuffer[256];
const char* errBufferText() {
  return errBuffer;
}

const Family kSession{ko_last_error, [] { ko_create(nullptr, nullptr, 0, nullptr); }};
const Family kUtt{ko_utt_last_error, [] { ko_utt_push_audio(nullptr, nullptr, 0); }};
const Family kStream{ko_stream_last_error, [] { ko_stream_run(nullptr, nullptr, 0, nullptr, nullptr); }};
const Family kA2x{ko_a2x_last_error, [] { ko_a2x_finish(nullptr); }};
const Family kMotion{ko_motion_last_error, [] { ko_motion_finish(nullptr); }};
const Family kFca{ko_fca_last_error, [] { ko_fca_deltas(nullptr, nullptr, 0, nullptr, 0); }};
const Family kErrBuffer{errBufferText, [] { std::snprintf(errBuffer, sizeof errBuffer, "stale"); }};

constexpr const char* kUntouched = nullptr;

struct Row {
  const char* call;
  const Family& family;
  std::function<int64_t()> invoke;  // a pointer result counts as 1, NULL as 0
  int64_t result;
  const char* text;  // kUntouched: the older text stays
};

int64_t isSet(const void* pointer) {
  return pointer != nullptr ? 1 : 0;
}

TEST(BadArguments, EveryCallReturnsItsFailureAndNamesItself) {
  float f[63] = {};
  uint8_t bytes[16] = {};
  int16_t samples[4] = {};
  int rows[4] = {};
  float xs[63 * 4] = {}, kp[63 * 4] = {};
  char* err = errBuffer;
  const int errLen = sizeof errBuffer;
  const Row table[] = {
      {"ko_create", kSession, [] { return isSet(ko_create(nullptr, "k", 0, nullptr)); }, 0,
       "ko_create: NULL bundle_dir/model_key"},
      {"ko_nt", kSession, [] { return ko_nt(nullptr); }, 0, kUntouched},
      {"ko_width", kSession, [] { return ko_width(nullptr); }, 0, kUntouched},
      {"ko_height", kSession, [] { return ko_height(nullptr); }, 0, kUntouched},
      {"ko_crop", kSession, [] { return ko_crop(nullptr); }, 0, kUntouched},
      {"ko_drive_frames", kSession, [] { return ko_drive_frames(nullptr); }, 0, kUntouched},
      {"ko_paste_crop", kSession, [&] { return ko_paste_crop(nullptr, 0, f, bytes, sizeof bytes); }, 0,
       "ko_paste_crop: bad args / out too small"},
      {"ko_target_frame", kSession, [] { return isSet(ko_target_frame(nullptr, 0)); }, 0,
       "ko_target_frame: bad args"},
      {"ko_render_kp_crop", kSession, [&] { return isSet(ko_render_kp_crop(nullptr, 0, f, f)); }, 0,
       "ko_render_kp_crop: bad args"},
      {"ko_render_drive_crop", kSession, [] { return isSet(ko_render_drive_crop(nullptr, 0)); }, 0,
       "ko_render_drive_crop: bad frame index"},
      {"ko_paste_last", kSession, [] { return isSet(ko_paste_last(nullptr, 0)); }, 0,
       "ko_paste_last: bad args / no prior render"},
      {"ko_render_kp_rgba", kSession,
       [&] { return ko_render_kp_rgba(nullptr, 0, f, f, bytes, sizeof bytes); }, 0,
       "ko_render_kp_crop: bad args"},
      {"ko_render_drive_rgba", kSession,
       [&] { return ko_render_drive_rgba(nullptr, 0, bytes, sizeof bytes); }, 0,
       "ko_render_drive_crop: bad frame index"},
      {"ko_bundle_resolve_handle", kSession, [&] { return ko_bundle_resolve_handle(nullptr, err, 4); }, -1,
       ""},
      {"ko_bundle_resolve_member", kSession, [&] { return ko_bundle_resolve_member("b", nullptr, err, 4); },
       -1, ""},
      {"ko_prior_open", kSession, [] { return isSet(ko_prior_open(nullptr, 1, 1)); }, 0,
       "ko_prior_open: NULL bundle_dir"},
      {"ko_prior_row", kSession, [] { return ko_prior_row(nullptr, 0, nullptr, 0); }, 0,
       "ko_prior_row: NULL prior/out"},
      {"ko_prior_row_bytes", kSession, [] { return static_cast<int64_t>(ko_prior_row_bytes(nullptr)); }, 0,
       kUntouched},
      {"ko_prior_backend", kSession, [] { return static_cast<int64_t>(*ko_prior_backend(nullptr)); }, 0,
       kUntouched},
      {"ko_tessera_carriage_open", kSession, [] { return isSet(ko_tessera_carriage_open(nullptr)); }, 0,
       kUntouched},
      {"ko_tessera_carriage_complete", kSession, [] { return ko_tessera_carriage_complete(nullptr); }, 0,
       kUntouched},
      {"ko_tessera_carriage_path", kSession,
       [] { return static_cast<int64_t>(*ko_tessera_carriage_path(nullptr, "bank_track")); }, 0, kUntouched},
      {"ko_tessera_carriage_missing", kSession, [] { return isSet(ko_tessera_carriage_missing(nullptr, 0)); },
       0, kUntouched},
      {"ko_tessera_carriage_declared", kSession, [] { return ko_tessera_carriage_declared(nullptr); }, 0,
       kUntouched},
      {"ko_tessera_carriage_missing_count", kSession,
       [] { return ko_tessera_carriage_missing_count(nullptr); }, 0, kUntouched},
      {"ko_host_kp_rows", kSession, [] { return ko_host_kp_rows(); }, 21, kUntouched},
      {"ko_tessera_slot_count", kSession, [] { return ko_tessera_slot_count(); }, 4, kUntouched},
      {"ko_tessera_slot_key", kSession, [] { return isSet(ko_tessera_slot_key(-1)); }, 0, kUntouched},
      {"ko_tessera_members_open", kErrBuffer,
       [&] { return isSet(ko_tessera_members_open(nullptr, err, errLen)); }, 0,
       "ko_tessera_members_open: null bundle_dir"},
      {"ko_tessera_members_n_donors", kErrBuffer, [] { return ko_tessera_members_n_donors(nullptr); }, 0,
       kUntouched},
      {"ko_tessera_members_cent", kErrBuffer, [] { return isSet(ko_tessera_members_cent(nullptr)); }, 0,
       kUntouched},
      {"ko_tessera_members_c_canon", kErrBuffer, [] { return isSet(ko_tessera_members_c_canon(nullptr)); }, 0,
       kUntouched},
      {"ko_tessera_members_aperture", kErrBuffer, [] { return isSet(ko_tessera_members_aperture(nullptr)); },
       0, kUntouched},
      {"ko_tessera_members_stamp", kErrBuffer, [] { return isSet(ko_tessera_members_stamp(nullptr)); }, 0,
       kUntouched},
      {"ko_tessera_members_head_pt", kErrBuffer, [] { return isSet(ko_tessera_members_head_pt(nullptr)); }, 0,
       kUntouched},
      {"ko_tessera_members_head_pt_len", kErrBuffer, [] { return ko_tessera_members_head_pt_len(nullptr); },
       0, kUntouched},
      {"ko_tessera_members_head_json", kErrBuffer,
       [] { return static_cast<int64_t>(*ko_tessera_members_head_json(nullptr)); }, 0, kUntouched},
      {"ko_tessera_members_manifest_json", kErrBuffer,
       [] { return static_cast<int64_t>(*ko_tessera_members_manifest_json(nullptr)); }, 0, kUntouched},
      {"ko_tessera_members_bank_track_path", kErrBuffer,
       [] { return static_cast<int64_t>(*ko_tessera_members_bank_track_path(nullptr)); }, 0, kUntouched},
      {"ko_tessera_members_bank_container", kErrBuffer,
       [] { return static_cast<int64_t>(*ko_tessera_members_bank_container(nullptr)); }, 0, kUntouched},
      {"ko_tessera_members_bank_codec", kErrBuffer,
       [] { return static_cast<int64_t>(*ko_tessera_members_bank_codec(nullptr)); }, 0, kUntouched},
      {"ko_tessera_members_bank_pix_fmt", kErrBuffer,
       [] { return static_cast<int64_t>(*ko_tessera_members_bank_pix_fmt(nullptr)); }, 0, kUntouched},
      {"ko_tessera_members_bank_packing", kErrBuffer,
       [] { return static_cast<int64_t>(*ko_tessera_members_bank_packing(nullptr)); }, 0, kUntouched},
      {"ko_tessera_members_band_w", kErrBuffer, [] { return ko_tessera_members_band_w(nullptr); }, 0,
       kUntouched},
      {"ko_tessera_members_band_h", kErrBuffer, [] { return ko_tessera_members_band_h(nullptr); }, 0,
       kUntouched},
      {"ko_tessera_members_band_bytes", kErrBuffer,
       [] { return static_cast<int64_t>(ko_tessera_members_band_bytes(nullptr)); }, 0, kUntouched},
      {"ko_tessera_members_reorder", kErrBuffer,
       [&] { return ko_tessera_members_reorder(nullptr, bytes, bytes, err, errLen); }, 1,
       "ko_tessera_members_reorder: null argument"},
      {"ko_tessera_members_decode_bank", kErrBuffer,
       [&] { return ko_tessera_members_decode_bank(nullptr, bytes, sizeof bytes, err, errLen); }, 1,
       "ko_tessera_members_decode_bank: null argument"},
      {"ko_tessera_run", kErrBuffer,
       [&] {
         return ko_tessera_run(nullptr, 1, nullptr, nullptr, nullptr, nullptr, nullptr, 0, nullptr, nullptr,
                               nullptr, 1, nullptr, nullptr, err, errLen);
       },
       1, "ko_tessera_run: null argument"},
      {"ko_tessera_run_shift", kErrBuffer,
       [&] {
         return ko_tessera_run_shift(nullptr, 1, nullptr, nullptr, nullptr, nullptr, nullptr, 0, nullptr,
                                     nullptr, nullptr, nullptr, 1, nullptr, nullptr, err, errLen);
       },
       1, "ko_tessera_run_shift: null argument"},
      {"ko_utt_create", kUtt, [] { return isSet(ko_utt_create(nullptr, nullptr)); }, 0,
       "ko_utt_create: NULL ctx/opts"},
      {"ko_utt_open", kUtt, [] { return isSet(ko_utt_open(nullptr, "m")); }, 0,
       "ko_utt_create: NULL ctx/opts"},
      {"ko_utt_push_audio", kUtt, [&] { return ko_utt_push_audio(nullptr, samples, 4); }, 0,
       "ko_utt_push_audio: bad args"},
      {"ko_utt_frames_available", kUtt, [] { return ko_utt_frames_available(nullptr); }, 0, kUntouched},
      {"ko_utt_pull_frame", kUtt, [&] { return ko_utt_pull_frame(nullptr, bytes, sizeof bytes, nullptr); }, 0,
       "ko_utt_pull_frame: bad args"},
      {"ko_utt_ready", kUtt, [] { return ko_utt_ready(nullptr); }, -1, "ko_utt_ready: bad args"},
      {"ko_utt_render_status", kUtt, [&] { return ko_utt_render_status(nullptr, err, 4, nullptr); }, 0,
       kUntouched},
      {"ko_utt_tessera_attach", kErrBuffer,
       [&] {
         return ko_utt_tessera_attach(nullptr, nullptr, 0, nullptr, nullptr, nullptr, nullptr, nullptr, 0,
                                      nullptr, nullptr, err, errLen);
       },
       1, "ko_utt_tessera_attach: null session"},
      {"ko_utt_tessera_stats", kUtt,
       [] { return ko_utt_tessera_stats(nullptr, nullptr, nullptr, nullptr, 0); }, 0, kUntouched},
      {"ko_utt_tessera_synth_w", kUtt,
       [] { return ko_utt_tessera_synth_w(nullptr, nullptr, nullptr, nullptr); }, 0, kUntouched},
      {"ko_utt_tessera_geometry", kUtt, [&] { return ko_utt_tessera_geometry(nullptr, err, 4); }, 0,
       kUntouched},
      {"ko_stream_create", kStream, [] { return isSet(ko_stream_create(nullptr, "e", 0, 0, 1.0f)); }, 0,
       "ko_create: NULL bundle_dir/model_key"},
      {"ko_stream_run", kStream, [&] { return ko_stream_run(nullptr, f, 1, nullptr, nullptr); }, -1,
       "ko_stream_run: NULL stream/callback"},
      {"ko_stream_width", kStream, [] { return ko_stream_width(nullptr); }, 0, kUntouched},
      {"ko_stream_height", kStream, [] { return ko_stream_height(nullptr); }, 0, kUntouched},
      {"ko_a2x_create", kA2x, [] { return isSet(ko_a2x_create(nullptr, 0)); }, 0,
       "ko_a2x_create: NULL bundle"},
      {"ko_a2x_push", kA2x, [&] { return ko_a2x_push(nullptr, f, 1); }, 0,
       "ko_a2x_push: NULL stream/samples"},
      {"ko_a2x_finish", kA2x, [] { return ko_a2x_finish(nullptr); }, 0, "ko_a2x_finish: NULL stream"},
      {"ko_a2x_preload_w2v", kA2x,
       [] {
         unsetenv("W2V_ONNX");
         return ko_a2x_preload_w2v(nullptr);
       },
       0, "ko_a2x_preload_w2v: no path and $W2V_ONNX unset"},
      {"ko_a2x_total", kA2x, [] { return ko_a2x_total(nullptr); }, -1, "ko_a2x_total: NULL stream"},
      {"ko_a2x_avail", kA2x, [] { return ko_a2x_avail(nullptr); }, 0, "ko_a2x_avail: NULL stream"},
      {"ko_a2x_pull", kA2x, [&] { return ko_a2x_pull(nullptr, rows, xs, kp, 4); }, 0,
       "ko_a2x_pull: NULL stream/idx/xs/kp"},
      {"ko_a2x_pull_wn", kA2x, [&] { return ko_a2x_pull_wn(nullptr, rows, xs, kp, f, 4); }, 0,
       "ko_a2x_pull_wn: NULL stream/idx/xs/kp/wn"},
      {"ko_a2x_reset", kA2x, [] { return ko_a2x_reset(nullptr, 0, 1, 1); }, 0, "ko_a2x_reset: NULL stream"},
      {"ko_a2x_nt", kA2x, [] { return ko_a2x_nt(nullptr); }, 0, kUntouched},
      {"ko_a2x_width", kA2x, [] { return ko_a2x_width(nullptr); }, 0, kUntouched},
      {"ko_a2x_w2v8_lazy", kA2x, [] { return ko_a2x_w2v8_lazy(); }, 1, kUntouched},
      {"ko_a2x_deltas", kA2x, [&] { return ko_a2x_deltas(nullptr, f, 1, f, 1); }, -1,
       "ko_a2x_deltas: NULL stream/samples/out"},
      {"ko_a2x_deltas_wn", kA2x, [&] { return ko_a2x_deltas_wn(nullptr, f, 1, f, f, 1); }, -1,
       "ko_a2x_deltas_wn: NULL stream/samples/out/wn_out"},
      {"ko_motion_create", kMotion, [] { return isSet(ko_motion_create(nullptr, 0, nullptr)); }, 0,
       "ko_motion_create: NULL motion_dir"},
      {"ko_motion_push", kMotion, [&] { return ko_motion_push(nullptr, f, 1); }, 0,
       "ko_motion_push: bad args / already finished"},
      {"ko_motion_finish", kMotion, [] { return ko_motion_finish(nullptr); }, 0,
       "ko_motion_finish: bad args"},
      {"ko_motion_total", kMotion, [] { return ko_motion_total(nullptr); }, -1, "ko_motion_total: bad args"},
      {"ko_motion_avail", kMotion, [] { return ko_motion_avail(nullptr); }, -1, "ko_motion_avail: bad args"},
      {"ko_motion_pull", kMotion, [&] { return ko_motion_pull(nullptr, rows, xs, kp, 4); }, -1,
       "ko_motion_pull: bad args"},
      {"ko_motion_reset", kMotion, [] { return ko_motion_reset(nullptr, 0, 1, 1); }, 0,
       "ko_motion_reset: bad args"},
      {"ko_motion_nt", kMotion, [] { return ko_motion_nt(nullptr); }, 0, kUntouched},
      {"ko_fca_create", kFca, [] { return isSet(ko_fca_create(nullptr, nullptr, 0)); }, 0,
       "ko_fca_create: NULL encoder_path/model_path"},
      {"ko_fca_deltas", kFca, [&] { return ko_fca_deltas(nullptr, f, 1, f, 1); }, -1,
       "ko_fca_deltas: NULL fca"},
  };
  for (const Row& row : table) {
    SCOPED_TRACE(row.call);
    row.family.leaveStale();
    const std::string stale = row.family.text();
    ASSERT_NE(stale, "");
    EXPECT_EQ(row.invoke(), row.result);
    EXPECT_EQ(row.family.text(), row.text == kUntouched ? stale : std::string(row.text));
  }
  // Releases and notices take NULL as nothing to do.
  ko_destroy(nullptr);
  ko_prior_close(nullptr);
  ko_tessera_carriage_close(nullptr);
  ko_tessera_members_close(nullptr);
  ko_utt_end_utterance(nullptr);
  ko_utt_interrupt(nullptr);
  ko_utt_get_stats(nullptr, nullptr);
  ko_utt_destroy(nullptr);
  ko_stream_destroy(nullptr);
  ko_a2x_set_eager(nullptr, 1);
  ko_a2x_destroy(nullptr);
  ko_motion_set_eager(nullptr, 1);
  ko_motion_destroy(nullptr);
  ko_fca_destroy(nullptr);
}

}  // namespace
