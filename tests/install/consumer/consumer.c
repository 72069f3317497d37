#include <ko/ko.h>
#include <ko/ko_a2x.h>
#include <stdio.h>

int main(void) {
  if (ko_host_kp_rows() != 21) return 1;
  printf("consumer linked: %d keypoint rows\n", ko_host_kp_rows());
  return 0;
}
