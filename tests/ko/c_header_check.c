/* Compiled as C: the public headers must need nothing from C++. */
#include <stdio.h>
#include <string.h>

#include "ko/ko.h"
#include "ko/ko_a2x.h"

int main(void) {
  char out[16];
  if (ko_host_kp_rows() != 21) return 1;
  if (ko_bundle_resolve_handle(NULL, out, sizeof out) != -1) return 2;
  if (ko_last_error() == NULL || strcmp(ko_last_error(), "") != 0) return 3;
  if (ko_prior_row_bytes(NULL) != 0 || strcmp(ko_prior_backend(NULL), "") != 0) return 4;
  ko_prior_close(NULL);
  if (ko_prior_open(NULL, 2, 11) != NULL || strcmp(ko_last_error(), "ko_prior_open: NULL bundle_dir") != 0)
    return 5;
  if (ko_a2x_create(NULL, 1) != NULL || strcmp(ko_a2x_last_error(), "ko_a2x_create: NULL bundle") != 0)
    return 6;
  if (ko_a2x_nt(NULL) != 0 || ko_a2x_w2v8_lazy() != 1) return 7;
  ko_a2x_destroy(NULL);
  if (ko_motion_create(NULL, 1, NULL) != NULL ||
      strcmp(ko_motion_last_error(), "ko_motion_create: NULL motion_dir") != 0)
    return 8;
  ko_motion_destroy(NULL);
  if (ko_fca_create(NULL, NULL, 1) != NULL ||
      strcmp(ko_fca_last_error(), "ko_fca_create: NULL encoder_path/model_path") != 0)
    return 9;
  ko_fca_destroy(NULL);
  if (ko_stream_run(NULL, NULL, 0, NULL, NULL) != -1 ||
      strcmp(ko_stream_last_error(), "ko_stream_run: NULL stream/callback") != 0)
    return 10;
  ko_stream_destroy(NULL);
  {
    char err[64];
    if (ko_tessera_slot_count() != 4 || ko_tessera_slot_key(4) != NULL ||
        ko_tessera_carriage_open(NULL) != NULL)
      return 11;
    if (ko_tessera_members_open(NULL, err, (int)sizeof err) != NULL ||
        strcmp(err, "ko_tessera_members_open: null bundle_dir") != 0)
      return 12;
    if (ko_tessera_members_band_bytes(NULL) != 0 || strcmp(ko_tessera_members_head_json(NULL), "") != 0)
      return 13;
    ko_tessera_members_close(NULL);
    ko_tessera_carriage_close(NULL);
    if (ko_tessera_run(NULL, 1, NULL, NULL, NULL, NULL, NULL, 0, NULL, NULL, NULL, 1, NULL, NULL, err,
                       (int32_t)sizeof err) != 1 ||
        strcmp(err, "ko_tessera_run: null argument") != 0)
      return 14;
    if (ko_tessera_members_decode_bank(NULL, NULL, 0, err, (int)sizeof err) != 1 ||
        strcmp(err, "ko_tessera_members_decode_bank: null argument") != 0)
      return 15;
    if (ko_utt_tessera_attach(NULL, NULL, 0, NULL, NULL, NULL, NULL, NULL, 0, NULL, NULL, err,
                              (int32_t)sizeof err) != 1 ||
        strcmp(err, "ko_utt_tessera_attach: null session") != 0)
      return 16;
    if (ko_utt_tessera_stats(NULL, NULL, NULL, NULL, 0) != 0 ||
        ko_utt_tessera_synth_w(NULL, NULL, NULL, NULL) != 0 ||
        ko_utt_tessera_geometry(NULL, err, sizeof err) != 0)
      return 17;
  }
  puts("c header ok");
  return 0;
}
