/*
 * libko_core: the audio families (speech to keypoints).
 *
 * The streaming audio calls (ko_a2x_*, ko_motion_*, ko_fca_*) follow the error convention described
 * at the top of ko.h, each with its own *_last_error call. This version of the library exports no
 * audio call yet; the header is installed so hosts can include it unconditionally.
 */
#ifndef KO_KO_A2X_H
#define KO_KO_A2X_H

#include "ko/ko.h"

#ifdef __cplusplus
extern "C" {
#endif

#ifdef __cplusplus
}
#endif

#endif /* KO_KO_A2X_H */
