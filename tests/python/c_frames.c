/* What the C interface itself answers for a bundle, written raw for the Python binding's tests to
 * compare with: for rows 0..2 of the idle loop the crop (3 x crop x crop floats) and the frame that
 * crop pastes into driver frame row % nt (W x H x 3 bytes), then driver frame 0.
 * Usage: ko_c_frames BUNDLE MODEL OUT.bin */
#include <stdio.h>

#include "ko/ko.h"

static int fail(const char* what) {
  fprintf(stderr, "ko_c_frames: %s: %s\n", what, ko_last_error());
  return 1;
}

int main(int argc, char** argv) {
  if (argc != 4) {
    fprintf(stderr, "usage: ko_c_frames BUNDLE MODEL OUT.bin\n");
    return 2;
  }
  ko_ctx* ctx = ko_create(argv[1], argv[2], 1, NULL);
  if (!ctx) return fail("ko_create");
  FILE* out = fopen(argv[3], "wb");
  int status = out ? 0 : 1;
  const size_t cropFloats = 3u * (size_t)ko_crop(ctx) * (size_t)ko_crop(ctx);
  const size_t frameBytes = 3u * (size_t)ko_width(ctx) * (size_t)ko_height(ctx);
  for (int t = 0; status == 0 && t < 3; ++t) {
    const float* crop = ko_render_drive_crop(ctx, t);
    if (!crop) {
      status = fail("ko_render_drive_crop");
      break;
    }
    fwrite(crop, sizeof(float), cropFloats, out);
    const uint8_t* frame = ko_paste_last(ctx, t % ko_nt(ctx));
    if (!frame) {
      status = fail("ko_paste_last");
      break;
    }
    fwrite(frame, 1, frameBytes, out);
  }
  const uint8_t* target = status == 0 ? ko_target_frame(ctx, 0) : NULL;
  if (status == 0 && !target) status = fail("ko_target_frame");
  if (status == 0) fwrite(target, 1, frameBytes, out);
  if (out && fclose(out) != 0) status = 1;
  ko_destroy(ctx);
  return status;
}
