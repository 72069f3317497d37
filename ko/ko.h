/*
 * libko_core: real-time talking-head rendering on the CPU.
 *
 * This header is the manual of the session, prior, bundle, tessera, utterance and offline stream
 * families. The audio families live in ko_a2x.h.
 *
 * Error convention (every call in this library):
 *   - The return value alone tells whether a call failed: NULL for calls returning a handle, 0 or a
 *     negative value for status calls, as each call documents.
 *   - The reason is a whole sentence kept per thread, "<call name>: <reason>", read with the family's
 *     last-error call (ko_last_error for this header's families). A call that can fail clears it on
 *     entry; a failure on one thread never touches another thread's text.
 *   - No C++ exception ever leaves a call.
 *   - The teeth-member calls alone hand their sentence to the caller's err buffer instead.
 *
 * Bundles: wherever a call takes a bundle path it accepts a bundle directory, an IMX container
 * (x.imx), the container's path without ".imx", or the directory a container was unpacked into. A
 * container is unpacked once into x.kobundle beside it (or under $KO_IMX_UNWRAP_ROOT) and reused
 * while it is unchanged; bundles are never modified.
 */
#ifndef KO_KO_H
#define KO_KO_H

#include <stddef.h>
#include <stdint.h>

#if defined(KO_CORE_BUILDING)
#define KO_API __attribute__((visibility("default")))
#else
#define KO_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---------------------------------------------------------------------------------------------
 * Errors and the keypoint contract
 * ------------------------------------------------------------------------------------------- */

/* The calling thread's last error text of this header's families. Never NULL; "" when the last call
 * that clears it succeeded. The pointer stays valid until the next ko_* call on this thread.
 * Any thread may call it. */
KO_API const char* ko_last_error(void);

/* Rows in every keypoint set the library takes or returns: 21 rows of (x, y, z) floats, 63 values.
 * Needs no context; any thread may call it. */
KO_API int ko_host_kp_rows(void);

/* ---------------------------------------------------------------------------------------------
 * Session family: one identity opened for a render-and-paste loop
 *
 * A session owns the bundle's manifest, identity priors, idle-loop tables, the paste compositor with
 * the bundle's mask, a cursor over the driver video (decoding ahead on a thread of its own) and a
 * full-frame buffer. One session serves one caller thread at a time; sessions are independent.
 * Frames are W x H packed RGB bytes, row-major with no padding (ko_width, ko_height). A crop is three
 * planes (R, G, B) of crop x crop floats in [0, 1] (ko_crop).
 * ------------------------------------------------------------------------------------------- */

typedef struct ko_ctx ko_ctx;

/* Opens a bundle for rendering.
 *   bundle_dir  zero-terminated bundle path (see the bundle rules at the top); must not be NULL.
 *   model_key   the director network: the bundle's member "model_<model_key>.onnx"; must not be NULL.
 *   threads     intra-op threads for the director; below 1 lets the library choose.
 *   ep          execution provider: NULL or "" for the CPU.
 * Returns a session to free with ko_destroy, or NULL with ko_last_error set: "ko_create: NULL
 * bundle_dir/model_key", or "ko_create: " followed by the reason the bundle was refused (for example
 * "ko_create: mask read failed" when the paste mask member is missing or short). */
KO_API ko_ctx* ko_create(const char* bundle_dir, const char* model_key, int threads, const char* ep);

/* Stops the session's threads and frees it, with every buffer it handed out. NULL is ignored. */
KO_API void ko_destroy(ko_ctx* ctx);

/* The manifest's figures: source frames (NT), frame width and height, crop side; and the number of
 * rows of the idle-loop tables. Each returns 0 for NULL and leaves the last error alone. */
KO_API int ko_nt(const ko_ctx* ctx);
KO_API int ko_width(const ko_ctx* ctx);
KO_API int ko_height(const ko_ctx* ctx);
KO_API int ko_crop(const ko_ctx* ctx);
KO_API int ko_drive_frames(const ko_ctx* ctx);

/* Pastes a crop into driver frame si (0 <= si < ko_nt) under the identity's paste transform for si.
 *   crop  3 x crop x crop floats, planar R, G, B in [0, 1].
 *   out   caller's buffer receiving the W x H RGB frame; cap is its size, at least W * H * 3 bytes.
 * Returns 1, or 0 with ko_last_error set ("ko_paste_crop: bad args / out too small" for a NULL
 * argument, si out of range or a small buffer). */
KO_API int ko_paste_crop(ko_ctx* ctx, int si, const float* crop, uint8_t* out, size_t cap);

/* Driver frame si (0 <= si < ko_nt) as W x H RGB bytes inside the session's frame ring, or NULL with
 * ko_last_error set ("ko_target_frame: bad args"). Valid until the next call that reads a driver frame
 * on this session; copy it to keep it. */
KO_API const uint8_t* ko_target_frame(ko_ctx* ctx, int si);

/* Renders the face crop of source frame si (0 <= si < ko_nt) driven from kp_source to kp_driving
 * (ko_host_kp_rows() x 3 floats each). The director is loaded on the first render call of the session.
 * Returns 3 x crop x crop floats (planar R, G, B), valid until the next render call on this session, or
 * NULL with ko_last_error set ("ko_render_kp_crop: bad args", or "ko_render_kp_crop: " and the reason
 * the director was refused or failed). */
KO_API const float* ko_render_kp_crop(ko_ctx* ctx, int si, const float* kp_source, const float* kp_driving);

/* Renders row t (0 <= t < ko_drive_frames) of the bundle's idle-loop tables: its source frame and its
 * source and driving keypoints. As ko_render_kp_crop; "ko_render_drive_crop: bad frame index" for t. */
KO_API const float* ko_render_drive_crop(ko_ctx* ctx, int t);

/* Pastes the last rendered crop into driver frame si and returns the session's W x H RGB frame, valid
 * until the next ko_paste_last; NULL with ko_last_error set ("ko_paste_last: bad args / no prior
 * render" before any render or for si out of range). */
KO_API const uint8_t* ko_paste_last(ko_ctx* ctx, int si);

/* Render and paste in one call, the frame written to out as W x H RGBA bytes (alpha 255); cap is out's
 * size, at least W * H * 4 bytes. Return 1, or 0 with ko_last_error set: the render call's text, or
 * "ko_render_*_rgba: out buffer too small" (the crop is rendered already and ko_paste_last can still
 * paste it). */
KO_API int ko_render_kp_rgba(ko_ctx* ctx, int si, const float* kp_source, const float* kp_driving,
                             uint8_t* out, size_t cap);
KO_API int ko_render_drive_rgba(ko_ctx* ctx, int t, uint8_t* out, size_t cap);

/* ---------------------------------------------------------------------------------------------
 * Bundle resolution
 * Both calls may run concurrently from any threads; unpacking a container is serialised inside.
 * ------------------------------------------------------------------------------------------- */

/* Resolves a bundle path (see "Bundles" above) to its directory, unpacking a container if needed.
 *   bundle  zero-terminated path; must not be NULL.
 *   out     caller's buffer receiving the zero-terminated directory; must not be NULL.
 *   cap     size of out in bytes, at least 1.
 * Returns 1 on success. Returns -1 on failure: with a NULL argument or cap 0 (no text is set);
 * when unpacking fails or out is too small ("ko_bundle_resolve_handle: buffer too small"), in which
 * case out holds "" and ko_last_error() says why. Clears the last error on entry. */
KO_API int ko_bundle_resolve_handle(const char* bundle, char* out, size_t cap);

/* Resolves the path of one member of a bundle. Ask by the member's legacy name (for example
 * "M.f32" or "model_b4.onnx"): the legacy file is used when present, else the file under the
 * member's current name ("paste_transform.f32", "render_model.batch4.onnx"), else the legacy path.
 *   bundle  zero-terminated bundle path; must not be NULL.
 *   member  zero-terminated member name relative to the bundle; must not be NULL.
 *   out     caller's buffer receiving the zero-terminated path; must not be NULL.
 *   cap     size of out in bytes, at least 1.
 * Returns 1 when the path was written and the file opens for reading, 0 when the path was written
 * but the file does not open, -1 on failure. Clears the last error on entry; a NULL argument or cap 0
 * returns -1 and sets no text; an unpacking failure or a too-small buffer
 * ("ko_bundle_resolve_member: buffer too small") writes "" to out and sets it. */
KO_API int ko_bundle_resolve_member(const char* bundle, const char* member, char* out, size_t cap);

/* ---------------------------------------------------------------------------------------------
 * Prior family: the identity's warp prior read straight from its movie member
 *
 * A prior row is one decoded frame of the bundle's prior movie ("P_hevc.mov", or the member the
 * manifest's "P_hevc" names): the R plane, then the G plane, then the B plane, each crop x crop
 * IEEE half floats (uint16_t bit patterns) in [0, 1], row-major; 6 * crop * crop bytes in all.
 * A decoding thread reads ahead of the caller and keeps recent rows, so rows read in increasing order,
 * or a few rows back, cost no seek. One handle serves one thread at a time; handles are independent.
 * ------------------------------------------------------------------------------------------- */

typedef struct ko_prior ko_prior;

/* Opens the prior of a bundle without a session.
 *   bundle_dir  zero-terminated bundle path (see the bundle rules at the top); must not be NULL.
 *   ahead       rows decoded ahead of the caller; below 1 means 2.
 *   hist        rows kept after they were read; below 0 means 0.
 * Returns a handle to free with ko_prior_close, or NULL with ko_last_error set ("ko_prior_open: ...",
 * for example when the bundle has no prior movie or the movie does not match its manifest). */
KO_API ko_prior* ko_prior_open(const char* bundle_dir, int ahead, int hist);

/* Copies row `index` (0 <= index < the manifest's NT) into out.
 *   out  caller's buffer of at least ko_prior_row_bytes(prior) bytes; cap is its size in bytes.
 * Returns 1 on success; 0 with ko_last_error set on a NULL argument ("ko_prior_row: NULL prior/out"),
 * a small buffer ("ko_prior_row: cap <cap> < row bytes <size>"), an index outside the movie or a
 * decoding failure. A decoding failure is final: every later row call on the handle fails with it. */
KO_API int ko_prior_row(ko_prior* prior, int index, uint16_t* out, size_t cap);

/* Bytes of one row (6 * crop * crop); 0 for NULL. */
KO_API size_t ko_prior_row_bytes(const ko_prior* prior);

/* The decoder behind the handle, for example "hevc444/libavcodec 59.37.100 h264"; "" for NULL. The
 * text belongs to the handle and lives until ko_prior_close. */
KO_API const char* ko_prior_backend(const ko_prior* prior);

/* Stops the decoding thread and frees the handle. NULL is ignored. */
KO_API void ko_prior_close(ko_prior* prior);

/* ---------------------------------------------------------------------------------------------
 * Teeth members: what a bundle carries for borrowed teeth
 *
 * Borrowed teeth need four members in a bundle, the slots in this order: "bank_track" (the donor
 * bank's video track, "tessera_bank.v1.mp4"), "bank_sidecar" (its JSON sidecar,
 * "tessera_bank.v1.json"), "head_weights" (the blend head's weights archive, "tessera_head.v1.pt")
 * and "head_config" (its JSON configuration, "tessera_head.v1.json"); the manifest's
 * tessera.members object may rename any of them. All four arm the borrow; any one missing refuses
 * it. A carriage says which members a bundle carries; a members handle holds all four loaded and
 * cross-checked. Both handles are immutable once open and may be read from any thread; every call
 * tolerates NULL. The calls that can fail write their whole sentence into the caller's err buffer
 * (at most err_len - 1 bytes and a terminating zero; nothing when err is NULL or err_len < 1)
 * instead of a last-error text.
 * ------------------------------------------------------------------------------------------- */

typedef struct ko_tessera_carriage ko_tessera_carriage;
typedef struct ko_tessera_members ko_tessera_members;

/* 4, and slot key i (0 <= i < 4), or NULL for any other i. */
KO_API int ko_tessera_slot_count(void);
KO_API const char* ko_tessera_slot_key(int i);

/* Which members the bundle carries. Never fails on a missing member or an unreadable manifest; a
 * bundle that cannot be resolved gives a carriage with every slot missing. NULL for a NULL bundle or
 * when memory runs out. Free with ko_tessera_carriage_close. */
KO_API ko_tessera_carriage* ko_tessera_carriage_open(const char* bundle_dir);
KO_API void ko_tessera_carriage_close(ko_tessera_carriage* carriage);

/* 1 when all four members are present / when the manifest declares a "tessera" block; else 0. */
KO_API int ko_tessera_carriage_complete(const ko_tessera_carriage* carriage);
KO_API int ko_tessera_carriage_declared(const ko_tessera_carriage* carriage);

/* The resolved path of a slot, present or not; "" for NULL or an unknown key. The text stays valid
 * until the next ko_tessera_carriage_path call on this carriage. */
KO_API const char* ko_tessera_carriage_path(ko_tessera_carriage* carriage, const char* slot_key);

/* The missing slots: their number, and the key of the i-th in slot order (NULL when out of range). */
KO_API int ko_tessera_carriage_missing_count(const ko_tessera_carriage* carriage);
KO_API const char* ko_tessera_carriage_missing(const ko_tessera_carriage* carriage, int i);

/* Loads and cross-checks all four members. Returns a handle to free with ko_tessera_members_close, or
 * NULL with the refusal in err: "ko_tessera_members_open: null bundle_dir", "missing teeth member(s):
 * bank_track (tessera_bank.v1.mp4) — carries 3 of 4. ..." naming every missing member, the sidecar's
 * and the manifest's refusals (format, geometry, n_donors above 1024, track_order, counts, pixel
 * format), or "ko_tessera_members_open: out of memory". */
KO_API ko_tessera_members* ko_tessera_members_open(const char* bundle_dir, char* err, int err_len);
KO_API void ko_tessera_members_close(ko_tessera_members* members);

/* Donors (1..1024; 0 for NULL); per donor its mouth centre (x, y) interleaved (2 x n doubles), the
 * bank's canonical centre (2 doubles), per donor its mouth aperture (n doubles); NULL when empty. */
KO_API int ko_tessera_members_n_donors(const ko_tessera_members* members);
KO_API const double* ko_tessera_members_cent(const ko_tessera_members* members);
KO_API const double* ko_tessera_members_c_canon(const ko_tessera_members* members);
KO_API const double* ko_tessera_members_aperture(const ko_tessera_members* members);

/* The sidecar's geometry stamp, twelve ints: canvas_w, canvas_h, window_x0, window_y0, window_w,
 * window_h, pad, band_r0, band_r1, band_c0, band_c1, shift_margin. */
KO_API const int32_t* ko_tessera_members_stamp(const ko_tessera_members* members);

/* The raw weights archive and its length; the raw head configuration and manifest texts. */
KO_API const uint8_t* ko_tessera_members_head_pt(const ko_tessera_members* members);
KO_API uint32_t ko_tessera_members_head_pt_len(const ko_tessera_members* members);
KO_API const char* ko_tessera_members_head_json(const ko_tessera_members* members);
KO_API const char* ko_tessera_members_manifest_json(const ko_tessera_members* members);

/* How the bank travels: its track's path, container ("mp4"), codec, pixel format (never "") and
 * packing ("rgb24_frames"); "" for NULL. */
KO_API const char* ko_tessera_members_bank_track_path(const ko_tessera_members* members);
KO_API const char* ko_tessera_members_bank_container(const ko_tessera_members* members);
KO_API const char* ko_tessera_members_bank_codec(const ko_tessera_members* members);
KO_API const char* ko_tessera_members_bank_pix_fmt(const ko_tessera_members* members);
KO_API const char* ko_tessera_members_bank_packing(const ko_tessera_members* members);

/* The stored patch per donor (band_w x band_h pixels) and the whole bank in bytes
 * (n_donors x band_h x band_w x 3). */
KO_API int ko_tessera_members_band_w(const ko_tessera_members* members);
KO_API int ko_tessera_members_band_h(const ko_tessera_members* members);
KO_API uint64_t ko_tessera_members_band_bytes(const ko_tessera_members* members);

/* Copies a decoded bank track (ko_tessera_members_band_bytes of packed RGB24 patches, in track order)
 * into donor order. Returns 0, or 1 with the reason in err ("ko_tessera_members_reorder: null
 * argument", ...). */
KO_API int ko_tessera_members_reorder(const ko_tessera_members* members, const uint8_t* track, uint8_t* donor,
                                      char* err, int err_len);

/* Reads the bank track and decodes it with the library's own decoder straight into donor order:
 * ko_tessera_members_band_bytes bytes into donor (capacity bytes long). Returns 0, or 1 with the
 * reason in err ("ko_tessera_members_decode_bank: null argument", "... the buffer holds N bytes, the
 * bank needs M", the file's or the decoder's refusal). */
KO_API int ko_tessera_members_decode_bank(const ko_tessera_members* members, uint8_t* donor,
                                          uint64_t capacity, char* err, int err_len);

/* Runs the teeth pass offline over n_frames crops and the compose masks the caller supplies.
 *
 * bank: n_donors stored patches in donor order, band_h x band_w packed RGB24 each (as
 * ko_tessera_members_reorder delivers them); cent: 2 x n_donors mouth centres (x, y); c_canon: the
 * canonical centre (x, y); aperture: n_donors values; stamp: the twelve geometry fields
 * (ko_tessera_members_stamp); head_pt/head_pt_len: the blend head's weights archive; head_json: its
 * configuration. crops: n_frames crops of canvas_w x canvas_h packed RGB24; pis: n_frames masks of
 * canvas_w x canvas_h bytes; shifts: per frame the mouth shift (sy, sx), a pair starting -10000 for
 * none, or NULL to let the pass find every mouth in its mask.
 *
 * out_windows receives n_frames windows of window_h x window_w packed RGB24 and out_skipped one flag
 * per frame: 0 when its window was written, 1 when the frame had no usable mouth (its slot is left
 * as it was). Returns 0, or 1 with the refusal in err (at most err_len - 1 bytes and a terminating
 * zero): "ko_tessera_run_shift: null argument", a stamp, bank, weights or configuration refusal,
 * "teeth: emitted N of M frames", "teeth: unknown failure". */
KO_API int ko_tessera_run_shift(const uint8_t* bank, int32_t n_donors, const double* cent,
                                const double* c_canon, const double* aperture, const int32_t* stamp,
                                const uint8_t* head_pt, uint32_t head_pt_len, const char* head_json,
                                const uint8_t* crops, const uint8_t* pis, const int32_t* shifts,
                                int32_t n_frames, uint8_t* out_windows, uint32_t* out_skipped, char* err,
                                int32_t err_len);
/* ko_tessera_run_shift with shifts NULL ("ko_tessera_run: null argument" names this call). */
KO_API int ko_tessera_run(const uint8_t* bank, int32_t n_donors, const double* cent, const double* c_canon,
                          const double* aperture, const int32_t* stamp, const uint8_t* head_pt,
                          uint32_t head_pt_len, const char* head_json, const uint8_t* crops,
                          const uint8_t* pis, int32_t n_frames, uint8_t* out_windows, uint32_t* out_skipped,
                          char* err, int32_t err_len);

/* ---------------------------------------------------------------------------------------------
 * Utterance family: live speech in, finished full frames out at the host's display rate
 *
 * A pipeline sits on a session and turns speech the host pushes whenever it has some into W x H RGB
 * frames of the session's driver video (ko_width, ko_height) that the host pulls at its own rate:
 * idle frames between utterances (one made per pull, rows 0, 1, 2, ...), speech frames whose face
 * follows the audio, and after an utterance (or an interruption) a few blend frames back to the idle
 * pose. The audio model runs on a thread of its own: the a2x stream (ko_a2x.h) when the motion
 * directory holds "a2x_enc_stream.onnx", otherwise the motion stream. Up to 8 finished frames wait
 * in the pipeline; it never holds more, so an interruption discards at most those.
 *
 * Every call may be made from any host thread and serialises on the pipeline; while a pipeline lives
 * it is the session's only user (do not render or paste on the session meanwhile). The calls share
 * one last-error text per thread, read with ko_utt_last_error.
 *
 * Environment read at creation: KO_UTT_PIPELINE_PASTE (nonzero pastes on a thread of its own, zero
 * on the frame loop; default: on for an a2x model), KO_STEADY_MODEL (replaces steady_model),
 * KO_UTT_ONSET_SI (every utterance starts at this driver row, modulo ko_nt), KO_UTT_HYBRID (with
 * eager 0 or -1: hybrid scheduling unless empty or "0"), KO_UTT_STAGE_REPORT (print a per-stage
 * timing line to standard error at ko_utt_destroy).
 * ------------------------------------------------------------------------------------------- */

typedef struct ko_utt ko_utt;

typedef struct ko_utt_opts {
  const char* motion_dir;        /* directory (or bundle) of the audio model; required */
  int32_t threads;               /* threads of the audio model; below 1: the worker pool's size */
  const char* motion_ep;         /* provider of a motion model: NULL or "" for the CPU; a2x ignores it */
  const char* steady_model;      /* model key of the batch ("chunk") renderer: NULL or "" "b24_fp32";
                                    "-" none. A bundle without that director renders frame by frame. */
  int32_t eager;                 /* -2: hybrid scheduling; >= 1: the model's fixed eager value; otherwise
                                    eager -1 with hybrid from KO_UTT_HYBRID */
  double end_gap_s;              /* silence that ends an utterance by itself: 0 means 0.6 s, > 0 that
                                    many seconds, < 0 or NaN never */
  int32_t ramp_frames;           /* blend frames after an utterance; below 1: 6 */
  int32_t interrupt_ramp_frames; /* blend frames after ko_utt_interrupt; below 1: 4 */
} ko_utt_opts;

/* What ko_utt_pull_frame copied. */
typedef struct ko_utt_frame_info {
  uint64_t seq;    /* frames the pipeline produced before this one, since creation */
  int32_t kind;    /* 0 idle, 1 speech, 2 blend back to idle */
  int32_t row;     /* driver row (source frame) of the frame, 0 <= row < ko_nt */
  int32_t ordinal; /* a speech frame's position in its utterance, from 0; -1 otherwise */
} ko_utt_frame_info;

typedef struct ko_utt_stats {
  uint64_t frames_delivered;        /* frames the host pulled */
  uint64_t speech_frames_delivered; /* of which speech frames */
  uint64_t utterances;              /* utterances whose first speech frame was finished */
  double first_frame_ms;            /* latest utterance: its first push to its first finished frame */
  double render_ms;                 /* running average render time of a speech frame */
  int32_t state;                    /* 0 idle, 1 onset, 2 speech, 3 blend */
} ko_utt_stats;

/* Starts a pipeline on ctx. Builds the session's director first when no render call has (with at
 * most 2 intra-op threads when ko_create chose neither threads nor a provider, leaving the other
 * cores to the pipeline), then starts the threads; the audio model loads in the background
 * (ko_utt_ready). Returns a pipeline to free with ko_utt_destroy (before ko_destroy of its session),
 * or NULL with ko_utt_last_error set: "ko_utt_create: NULL ctx/opts", "ko_utt_create: opts.motion_dir
 * required", or "ko_utt_create: " and the reason the director was refused. */
KO_API ko_utt* ko_utt_create(ko_ctx* ctx, const ko_utt_opts* opts);

/* ko_utt_create with motion_dir and every other option zero: pool threads, the CPU, the "b24_fp32"
 * batch renderer, automatic hybrid scheduling, a 0.6 s end gap, 6 and 4 blend frames. */
KO_API ko_utt* ko_utt_open(ko_ctx* ctx, const char* motion_dir);

/* Appends count 16 kHz mono samples (scaled by 1/32768). A count of 0 only postpones the end gap.
 * Audio pushed before the model has loaded is dropped; audio pushed after the end of an utterance
 * starts the next one once the current one has finished. Returns 1, or 0 with
 * "ko_utt_push_audio: bad args" for a NULL pipeline or samples or a negative count. */
KO_API int ko_utt_push_audio(ko_utt* utt, const int16_t* samples, int count);

/* Ends the current utterance now instead of after the end gap. NULL is ignored. */
KO_API void ko_utt_end_utterance(ko_utt* utt);

/* Stops the utterance at once: discards unread audio and every finished or queued frame, then blends
 * from the last pulled frame back to idle. Frames already pulled are unaffected. NULL is ignored. */
KO_API void ko_utt_interrupt(ko_utt* utt);

/* Finished frames waiting (0 to 8); 0 for NULL. */
KO_API int ko_utt_frames_available(ko_utt* utt);

/* Copies the oldest finished frame into dst (W x H x 3 bytes; cap is dst's size) and, when info is
 * not NULL, what it is. Returns 1 when a frame was copied, 0 otherwise: 0 without a message when no
 * frame is ready; "ko_utt_pull_frame: bad args" for a NULL pipeline or dst;
 * "ko_utt_pull_frame: buffer too small", leaving the frame for the next pull. */
KO_API int ko_utt_pull_frame(ko_utt* utt, uint8_t* dst, size_t cap, ko_utt_frame_info* info);

/* 1 once the audio model has loaded, 0 while it loads, -1 for NULL or when it failed to load (then
 * ko_utt_last_error holds the model's own creation message, such as "ko_a2x_create: ..."). */
KO_API int ko_utt_ready(ko_utt* utt);

/* Fills *stats; NULL arguments are ignored. */
KO_API void ko_utt_get_stats(ko_utt* utt, ko_utt_stats* stats);

/* Render failures never stop the pipeline; this reports them. count (may be NULL) receives how many
 * were noted; text (may be NULL) the latest, "ep=<provider> <stage>: <reason>", cut to size - 1 bytes
 * and terminated. Returns -1 once a failure that lost speech frames was noted, else 0 (0 for NULL). */
KO_API int ko_utt_render_status(ko_utt* utt, char* text, size_t size, int64_t* count);

/* The calling thread's last ko_utt_* message; "" if none. Never NULL. */
KO_API const char* ko_utt_last_error(void);

/* Stops and joins every thread of the pipeline and frees it. Returns once the audio model has
 * finished loading when it is still loading. NULL is ignored. */
KO_API void ko_utt_destroy(ko_utt* utt);

/* Teeth borrowing in a running pipeline: every rendered crop (speech and blend frames) passes through
 * a borrow that writes real teeth from the donor bank into its mouth window before it is pasted. The
 * borrow answers a crop when the next one (or an idle frame) arrives, so with teeth attached a frame
 * comes out one frame later. Teeth run on a thread of their own when the paste does
 * (KO_UTT_PIPELINE_PASTE), otherwise inline on the frame loop.
 *
 * Attaches a borrow built from the teeth members (as ko_tessera_members_* hand them out: the bank in
 * donor order, its arrays, the stamp, the head archive and configuration) and the bundle manifest's
 * text. Returns 0, or 1 with the refusal in err (at most err_len - 1 bytes and a terminating zero):
 * "ko_utt_tessera_attach: null session", "ko_utt_tessera_attach: a required member is null — this ABI
 * has no partial-attach state", "ko_utt_tessera_attach: n_donors <= 0", "ko_utt_tessera_attach: " +
 * the stamp's, the weights' or the configuration's refusal, "ko_utt_tessera_attach: bank canvas WxH !=
 * this bundle's render crop N", "ko_utt_tessera_attach: xs_target.bin is absent or the wrong length,
 * ...", "ko_utt_tessera_attach: teeth-pi: ..." (the bank's compose geometry cannot be identified). A
 * failed attach changes nothing; a successful one replaces any earlier borrow and resets its
 * counters.
 *
 * The first frame the borrow refuses (no mouth found, a shift past the pad) or any failure disarms
 * it: that frame and the one held with it are not delivered, and later frames come without teeth. */
KO_API int ko_utt_tessera_attach(ko_utt* utt, const uint8_t* bank, int32_t n_donors, const double* cent,
                                 const double* c_canon, const double* aperture, const int32_t* stamp,
                                 const uint8_t* head_pt, uint32_t head_pt_len, const char* head_json,
                                 const char* manifest_json, char* err, int32_t err_len);

/* Frames whose borrowed teeth were written (applied) and frames the borrow refused, and the latest
 * refusal or failure text (into text, at most size - 1 bytes and a terminating zero); any pointer may
 * be NULL. Returns 0 without a borrow, 1 with an armed one, -1 once it refused or failed. */
KO_API int ko_utt_tessera_stats(ko_utt* utt, uint64_t* applied, uint64_t* refused, char* text, size_t size);

/* The borrow's synthesis weight: the mean over its frames, the largest per-frame value and the frame
 * count (any pointer may be NULL). Returns 1, or 0 (nothing written) without a borrow or before its
 * first synthesised frame. */
KO_API int ko_utt_tessera_synth_w(ko_utt* utt, double* mean, double* max, int64_t* count);

/* The compose geometry the borrow was armed with, such as "corpus pi geometry v2 (pad_x 0.10, pad_y
 * 0.08, down 0.074)", into text (at most size - 1 bytes and a terminating zero; "" without a borrow).
 * Returns 1 with a borrow, else 0; 0 also for a NULL pipeline or text or a size below 1. */
KO_API int ko_utt_tessera_geometry(ko_utt* utt, char* text, size_t size);

/* ---------------------------------------------------------------------------------------------
 * Offline stream family: a whole utterance rendered at once
 *
 * For hosts that have all of an utterance's audio up front (a reply synthesised whole, a batch job).
 * A stream opens its own session on the bundle with the director "model_render.onnx" and an FCA model
 * (ko_a2x.h) on the bundle's "fca_stream.onnx". A run computes every frame's expression delta first,
 * then renders the crops on a worker thread, at most 4 of them waiting, while the calling thread
 * pastes them into the driver frames and hands each finished frame to the callback, in order.
 *
 * Frame j of a run plays driver row (skip + j) mod NT (row 0 when NT is 1): every run starts at row 0
 * and carries nothing over. Its keypoints are that row of the bundle's "xs_target.bin" (the source)
 * and the same row plus gain x the frame's delta (the driving). A stream is run by one thread at a
 * time; streams are independent.
 * ------------------------------------------------------------------------------------------- */

typedef struct ko_stream ko_stream;

/* Receives frame `index` (0, 1, 2, ... without gaps) of a run: W x H packed RGB bytes, valid during
 * the call only. Called on the thread that called ko_stream_run. */
typedef void (*ko_stream_frame_cb)(void* user, int index, const uint8_t* rgb, int width, int height);

/* Opens a stream.
 *   bundle_dir    the bundle (see the bundle rules at the top); it must hold "model_render.onnx",
 *                 "fca_stream.onnx" and "xs_target.bin" (NT x 63 floats).
 *   encoder_path  the 8 s speech encoder's ONNX file (the interface of $W2V_ONNX).
 *   threads       intra-op threads for the director and the FCA networks; below 1 lets the library
 *                 choose.
 *   skip          leading frames of every utterance computed but not rendered (0 or more).
 *   gain          the scale of the expression deltas (finite; 1 plays them as predicted).
 * Returns a stream, or NULL with ko_stream_last_error set: "ko_create: " + the session's refusal,
 * "ko_fca_create: " + the FCA model's refusal, "ko_stream_create: cannot read xs_target.bin (NT*63
 * f32)", "ko_stream_create: skip must be 0 or more", "ko_stream_create: gain must be finite", or
 * "ko_stream_create: " + any other reason. A failed create frees everything it built. */
KO_API ko_stream* ko_stream_create(const char* bundle_dir, const char* encoder_path, int threads, int skip,
                                   float gain);

/* Renders the utterance of count samples (16 kHz mono floats), ceil(count / 640) frames less the
 * skipped ones, calling callback(user, ...) once per frame. Returns the frames delivered (0 when
 * count < 1 or skip covers every frame), or -1 with ko_stream_last_error set: "ko_stream_run: NULL
 * stream/callback"; "ko_fca_deltas: " + the FCA model's text when the deltas fail (no frame is
 * delivered); "ko_stream_run: render/paste failed" when a render or paste fails, after the frames
 * before it were delivered. The stream stays usable for the next run. */
KO_API int ko_stream_run(ko_stream* stream, const float* samples, int count, ko_stream_frame_cb callback,
                         void* user);

/* The frame width and height of the stream's bundle; 0 for NULL. */
KO_API int ko_stream_width(const ko_stream* stream);
KO_API int ko_stream_height(const ko_stream* stream);

/* The calling thread's last ko_stream_* message; "" if none. Never NULL. */
KO_API const char* ko_stream_last_error(void);

/* Frees the FCA model, the session and the stream. NULL is ignored. */
KO_API void ko_stream_destroy(ko_stream* stream);

#ifdef __cplusplus
}
#endif

#endif /* KO_KO_H */
