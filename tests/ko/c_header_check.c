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
  if (ko_prior_open(NULL, 2, 11) != NULL || strcmp(ko_last_error(), "ko_prior_open: NULL bundle_dir") != 0) return 5;
  puts("c header ok");
  return 0;
}
