/*
 * libko_core: the audio families (speech to keypoints).
 *
 * Error convention: as described at the top of ko.h. Each family of this header keeps its own
 * per-thread text, read with ko_a2x_last_error(), ko_motion_last_error() or ko_fca_last_error(); it is
 * one text per thread, shared by every stream of the family.
 *
 * Audio is 16 kHz mono, 32-bit float samples; 640 samples make one video frame (40 ms, 25 frames/s).
 * A keypoint set is 63 floats: 21 rows of (x, y, z) (ko_host_kp_rows()).
 */
#ifndef KO_KO_A2X_H
#define KO_KO_A2X_H

#include "ko/ko.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---------------------------------------------------------------------------------------------
 * a2x family: streaming speech to expression keypoints
 *
 * A stream turns speech, pushed in pieces of any size while it is being spoken, into one keypoint
 * pair per video frame: the identity's idle keypoints of the target row that frame plays (a row of
 * the motion directory's "xs_target.bin") and the same keypoints plus a predicted expression delta.
 * It runs the motion directory's encoder ("a2x_enc_stream.onnx") and decoder ("a2x_dec.onnx") on top
 * of one speech encoder shared by the whole process ($W2V_ONNX, and the short-window pair beside it
 * when present; see ko_a2x_preload_w2v).
 *
 * While the utterance is live, frames become available in whole blocks of 8 frames (320 ms) once
 * the audio after them covers the networks' look-ahead, so the keypoints do not depend on how the
 * host chops its audio. After ko_a2x_finish every remaining frame becomes available.
 *
 * One utterance: ko_a2x_reset, then ko_a2x_push while pulling with ko_a2x_avail/ko_a2x_pull,
 * ko_a2x_finish, pull until the pulled count reaches ko_a2x_total; then reset for the next one. A
 * stream is never reset implicitly. A stream is driven by one thread at a time; streams on different
 * threads are independent (they share only the speech encoder, which is safe to share).
 *
 * Environment: W2V_ONNX (required), KO_A2X_W2V_WIN_ONNX and KO_A2X_W2V_HEAD_ONNX (explicit trunk and
 * head of the short-window encoder, used when both are set), KO_A2X_W2V_RIGHT (frames of audio after
 * a block its features may see, default 12), KO_A2X_SILENCE_PRIME (frames of silence that prime the
 * decoder, overriding the directory's "silence_prime"), KO_A2X_CUDA=1 and KO_A2X_CUDA_MEM_MIB (the
 * speech encoder on a CUDA device, where the runtime has one).
 * ------------------------------------------------------------------------------------------- */

typedef struct ko_a2x ko_a2x;

/* Opens a stream on a motion directory.
 *   bundle   zero-terminated path of the motion directory (or a bundle container, see ko.h): it holds
 *            "a2x_meta.json", "a2x_pos.f32", "a2x_norm.f32", "xs_target.bin" and the two networks.
 *   threads  intra-op threads for the networks; below 1, or more than the library's pool size
 *            (KO_CORE_THREADS), means the pool size.
 * The first stream of the process loads the speech encoder (and prints one line about the cadence and
 * one about which encoder form serves). Returns a stream that plays the idle rows forward from row 0
 * with wrapping, or NULL with ko_a2x_last_error set, for example "ko_a2x_create: a2x_meta.json missing
 * in <dir>", "ko_a2x_create: meta lacks causal window/left (not a streaming a2x)", "ko_a2x_create:
 * pos/norm/xs_target read failed", "ko_a2x_create: $W2V_ONNX not set". A failed create frees
 * everything it built. Any thread may call it. */
KO_API ko_a2x* ko_a2x_create(const char* bundle, int threads);

/* Appends count samples to the utterance. NaN and infinite samples are taken as 0. A count below 1
 * does nothing. Returns 1; 0 with ko_a2x_last_error set for a NULL stream, or NULL samples with a
 * positive count. */
KO_API int ko_a2x_push(ko_a2x* stream, const float* samples, int count);

/* Declares the end of the utterance's audio: every remaining frame becomes available. Returns 1; 0
 * for a NULL stream. */
KO_API int ko_a2x_finish(ko_a2x* stream);

/* Frames of the utterance once finished: ceil(samples pushed / 640); -1 before ko_a2x_finish (and
 * for a NULL stream, with ko_a2x_last_error set). */
KO_API int ko_a2x_total(const ko_a2x* stream);

/* Frames ready to pull now. May run the networks, at most one step (8 frames, or 64 when the legacy
 * 8 s encoder serves) per call. Never fails: a network failure is recorded in ko_a2x_last_error as
 * "ko_a2x extend: <reason>" and the frames counted before it stay available. 0 for a NULL stream. */
KO_API int ko_a2x_avail(ko_a2x* stream);

/* Copies out up to max frames, in order, and returns how many (0 when none is ready). For frame j:
 *   idx[j]            the target row it plays (a row of xs_target.bin);
 *   xs[63*j .. +62]   that row's idle keypoints;
 *   kp[63*j .. +62]   the idle keypoints plus the frame's expression delta.
 * Buffers are the caller's: idx holds max ints, xs and kp max * 63 floats. When nothing is ready the
 * call runs the networks for up to max frames first. Never fails for a valid stream (network failures
 * as for ko_a2x_avail); 0 with ko_a2x_last_error set for a NULL stream or buffer. */
KO_API int ko_a2x_pull(ko_a2x* stream, int* idx, float* xs, float* kp, int max);

/* As ko_a2x_pull, and wn[j] gets frame j's wn value (0 when the encoder declares no wn output, see
 * ko_a2x_width). wn holds max floats. */
KO_API int ko_a2x_pull_wn(ko_a2x* stream, int* idx, float* xs, float* kp, float* wn, int max);

/* Starts a new utterance: drops all audio and frames of the last one.
 *   start  target row of the first frame; negative: the row the next pull would have played, so the
 *          idle walk continues where the last utterance stopped.
 *   dir    the walk's direction: negative steps back through the rows, otherwise forward.
 *   loop   nonzero wraps at the table's ends; 0 bounces (0 1 2 3 4 3 2 1 0 1 ... for 5 rows).
 * Buffers larger than 16 MiB give their memory back; smaller ones are reused. Returns 1; 0 for a
 * NULL stream. */
KO_API int ko_a2x_reset(ko_a2x* stream, int start, int dir, int loop);

/* Rows of the idle keypoint table (xs_target.bin); 0 for NULL. */
KO_API int ko_a2x_nt(const ko_a2x* stream);

/* 1 when the encoder declares a wn output (served by ko_a2x_pull_wn), else 0; 0 for NULL. */
KO_API int ko_a2x_width(const ko_a2x* stream);

/* Stores a host's eagerness setting; the stream's arithmetic does not depend on it. NULL is ignored. */
KO_API void ko_a2x_set_eager(ko_a2x* stream, int value);

/* Whole-utterance deltas: all count samples at once, through the 8 s encoder windows, with the
 * encoder run in bands of 24 frames. out receives ceil(count / 640) * 63 floats, the expression delta
 * of each frame (not added to any idle row). The stream's live utterance is not touched.
 * Returns the frame count; 0 for count < 1; -2 when the frames would exceed max_frames (nothing is
 * written); -1 with ko_a2x_last_error set ("ko_a2x_deltas: <reason>") on failure. */
KO_API int ko_a2x_deltas(ko_a2x* stream, const float* samples, int count, float* out, int max_frames);

/* As ko_a2x_deltas, and wn_out (max_frames floats) receives each frame's wn value. Returns -3 with
 * "ko_a2x_deltas_wn: encoder declares no wn output" when the encoder has no wn output (nothing is
 * written). */
KO_API int ko_a2x_deltas_wn(ko_a2x* stream, const float* samples, int count, float* out, float* wn_out,
                            int max_frames);

/* The calling thread's last error text of this family. Never NULL; "" when none. Valid until the
 * next ko_a2x_* call on this thread. */
KO_API const char* ko_a2x_last_error(void);

/* Frees the stream. NULL is ignored. The shared speech encoder stays loaded for the process. */
KO_API void ko_a2x_destroy(ko_a2x* stream);

/* Loads the 8 s speech encoder before the first stream needs it.
 *   path  the encoder's ONNX file; NULL or "" means $W2V_ONNX.
 * The first encoder loaded serves the whole process; later calls return 1 at once. Returns 1 when the
 * encoder is loaded, 0 with ko_a2x_last_error set otherwise ("ko_a2x_preload_w2v: no path and
 * $W2V_ONNX unset", or "ko_a2x_preload_w2v: <reason>"). Any thread may call it. */
KO_API int ko_a2x_preload_w2v(const char* path);

/* Always 1: this library loads the 8 s encoder only when a stream (or ko_a2x_preload_w2v) needs it. */
KO_API int ko_a2x_w2v8_lazy(void);

/* ---------------------------------------------------------------------------------------------
 * motion family: streaming speech to head motion and keypoints
 *
 * The second audio model, for motion directories that hold no a2x encoder. It needs no shared speech
 * encoder: the directory carries its own front end tables and three networks, "hubert_student.onnx"
 * (speech features from log-mel windows), "lmdm.onnx" (80 frames of motion per run) and "stitch.onnx"
 * (keypoint correction), beside "meta.json" ("nt", "n_src" (must equal "nt"), "n_emo", "s_bridge",
 * optional "delta_pitch"), the raw float tables "hubert_stft_window.bin", "hubert_stft_binmat.bin",
 * "hubert_fmean.bin", "hubert_fstd.bin", "emo.bin", "ch_xs_info.bin", "ch_sc.bin", "ch_eye_open.bin",
 * "ch_eye_ball.bin", "v_min_max.bin", "src_xs_info.bin" and the member "xs_target.bin".
 *
 * Each video frame plays one row r of the directory's tables and comes out as:
 *   rows[j] = r,  xs = the idle keypoints of row r,  kp = xs plus the speech-driven offset.
 * Frames are served once no later audio can change them: the first after about 3.3 s of audio, then
 * in runs of 70 frames. The keypoints do not depend on how the host chops its audio or when it pulls.
 * After ko_motion_finish every remaining frame is available.
 *
 * One utterance: ko_motion_reset, ko_motion_push while pulling, ko_motion_finish, pull until the
 * pulled count reaches ko_motion_total; then reset for the next one. A stream is driven by one thread
 * at a time; streams share nothing and may run on different threads at once.
 *
 * Environment: KO_ORT_SPIN=1... lets the networks' threads spin between runs; KO_MOTION_DUMP names a
 * directory that receives the intermediate arrays as raw floats: "mel0.bin" (the first window's
 * 80 x 21 log-mel block), "feat0.bin" (its 5 feature rows of 1103), "lmdm0_kp.bin", "lmdm0_aud.bin",
 * "lmdm0_pred.bin" (the first generator run's conditioning row, 80 feature rows and 80 motion rows),
 * "res_post.bin" and "final.bin" (the utterance's motion rows before and after the final smoothing and
 * clamping, rewritten at each finish), and, appended for the stream's life, "cond.bin" (every
 * generator run's conditioning row), "xs.bin" and "xd.bin" (each frame's source and driven keypoints
 * before stitching), "xsla.bin" and "xdla.bin" (each frame's xs and kp as pulled).
 * ------------------------------------------------------------------------------------------- */

typedef struct ko_motion ko_motion;

/* Opens a stream on a motion directory.
 *   motion_dir  zero-terminated path of the directory (or a bundle container, see ko.h).
 *   threads     intra-op threads for the networks; below 1 means the library's pool size.
 *   ep          execution provider: NULL or "" the CPU; a name starting with "coreml" asks for ONNX
 *               Runtime's CoreML provider, which only Apple platforms have (elsewhere the create fails
 *               with the runtime's reason); any other name fails.
 * Returns a stream ready to play from row 0 forward with wrapping, or NULL with ko_motion_last_error
 * set: "ko_motion_create: NULL motion_dir", or "ko_motion_create: " + the reason, for example
 * "cannot open <path>", "short read <path>: <got> floats, expected <want>", "meta.json: missing nt",
 * "meta.json: bad s_bridge", "ko_motion: n_src != nt unsupported", "ko_motion: unknown ep 'x'".
 * A failed create frees everything it built. */
KO_API ko_motion* ko_motion_create(const char* motion_dir, int threads, const char* ep);

/* Appends count samples (16 kHz mono) to the utterance; NaN and infinite samples are taken as 0.
 * Returns 1; 0 with "ko_motion_push: bad args / already finished" for a NULL stream or samples, a
 * negative count, or a stream already finished. */
KO_API int ko_motion_push(ko_motion* stream, const float* samples, int count);

/* Declares the end of the audio and runs the networks over what remains, so that every frame becomes
 * available. Returns 1; 0 with "ko_motion_finish: <reason>" (a network failure, which a later
 * ko_motion_avail retries) or "ko_motion_finish: bad args" for NULL. */
KO_API int ko_motion_finish(ko_motion* stream);

/* ceil(samples pushed / 640) once finished; -1 before (and for NULL, with "ko_motion_total: bad
 * args"). */
KO_API int ko_motion_total(const ko_motion* stream);

/* Frames ready to pull. While the utterance is live it runs the networks once enough new audio has
 * arrived since their last run (see ko_motion_set_eager). Returns -1 with "ko_motion_avail: <reason>"
 * when a network fails (nothing is lost: the same work is tried again by the next call), or with
 * "ko_motion_avail: bad args" for NULL. */
KO_API int ko_motion_avail(ko_motion* stream);

/* Copies out up to max frames, in order, and returns how many (0 when none is ready). For frame j:
 *   rows[j]            the row it plays (of xs_target.bin and src_xs_info.bin);
 *   xs[63*j .. +62]    that row's idle keypoints;
 *   kp[63*j .. +62]    the driven keypoints.
 * rows holds max ints, xs and kp max * 63 floats. May run the networks as ko_motion_avail does.
 * Returns -1 with "ko_motion_pull: bad args" (NULL stream or buffer, negative max) or
 * "ko_motion_pull: <reason>" (a network failure; the frames of the failed call are served by the
 * next one). */
KO_API int ko_motion_pull(ko_motion* stream, int* rows, float* xs, float* kp, int max);

/* Starts a new utterance: drops all audio, features and motion of the last one.
 *   start  row of the first frame, clamped to 0 .. ko_motion_nt - 1.
 *   dir    negative steps back through the rows, otherwise forward.
 *   loop   nonzero wraps at the table's ends; 0 bounces (0 1 2 3 4 3 2 1 0 1 ... for 5 rows).
 * Returns 1; 0 with "ko_motion_reset: bad args" for NULL. */
KO_API int ko_motion_reset(ko_motion* stream, int start, int dir, int loop);

/* How much new audio makes a live ko_motion_avail or ko_motion_pull run the networks: value >= 1
 * means that many new frames (40 ms each); anything else (the initial -1) sizes it automatically from
 * the networks' measured time, ceil(average ms / 40) frames within 1 .. 8. It changes only when work
 * is done, never the keypoints. NULL is ignored. */
KO_API void ko_motion_set_eager(ko_motion* stream, int value);

/* Rows of the directory's tables ("nt"); 0 for NULL. */
KO_API int ko_motion_nt(const ko_motion* stream);

/* The calling thread's last error text of this family. Never NULL; "" when none. Valid until the
 * next ko_motion_* call on this thread. */
KO_API const char* ko_motion_last_error(void);

/* Frees the stream. NULL is ignored. */
KO_API void ko_motion_destroy(ko_motion* stream);

/* ---------------------------------------------------------------------------------------------
 * fca family: whole-utterance speech to expression deltas
 *
 * For hosts that have all of an utterance's audio up front (ko_stream in ko.h is built on it). An
 * FCA model runs two networks of its own, not the process's shared speech encoder: an 8 s speech
 * encoder ("input_values" [1, 128000] -> "audio_emb" [12, 200, 768], the interface of $W2V_ONNX),
 * run once per 100 frames of audio, and the expression network "fca_stream.onnx" ("cond" [1, 5376],
 * "prev" [1, 63], "h" [1, 384] -> "m" [1, 63], "hn" [1, 384]), run once per frame. A frame's features
 * are the mean of the encoder's layers 4 to 9, normalised causally (each frame loses the mean of the
 * louder frames before it), and the expression network sees frames t-1 .. t+5 of them.
 *
 * A model is used by one thread at a time; models are independent.
 * ------------------------------------------------------------------------------------------- */

typedef struct ko_fca ko_fca;

/* Opens both networks.
 *   encoder_path  the 8 s speech encoder's ONNX file.
 *   model_path    the expression network's ONNX file (a bundle's "fca_stream.onnx").
 *   threads       intra-op threads for both; below 1 means the library's pool size.
 * Returns a model, or NULL with ko_fca_last_error set: "ko_fca_create: NULL encoder_path/model_path"
 * or "ko_fca_create: " + ONNX Runtime's reason a file did not open. */
KO_API ko_fca* ko_fca_create(const char* encoder_path, const char* model_path, int threads);

/* The expression delta of every frame of count samples (16 kHz mono; NaN and infinite samples are
 * taken as 0): out receives ceil(count / 640) * 63 floats, frame by frame, not added to any idle
 * keypoints. Returns the frame count; 0 for count < 1; -1 with ko_fca_last_error set otherwise:
 * "ko_fca_deltas: NULL fca", "ko_fca_deltas: NULL samples/out", "ko_fca_deltas: <T> frames do not
 * fit max_frames <max>" (nothing written), or "ko_fca_deltas: " + a network's failure (out may then
 * be partly written). */
KO_API int ko_fca_deltas(ko_fca* fca, const float* samples, int count, float* out, int max_frames);

/* The calling thread's last error text of this family. Never NULL; "" when none. Valid until the
 * next ko_fca_* call on this thread. */
KO_API const char* ko_fca_last_error(void);

/* Frees the model and both networks. NULL is ignored. */
KO_API void ko_fca_destroy(ko_fca* fca);

#ifdef __cplusplus
}
#endif

#endif /* KO_KO_A2X_H */
