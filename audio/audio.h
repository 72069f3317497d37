// The audio subsystem's door: the process-wide speech encoder and the streams that turn speech into
// keypoints. Other subsystems include this header only.
#pragma once

#include "audio/a2x_stream.h"      // IWYU pragma: export
#include "audio/fca_model.h"       // IWYU pragma: export
#include "audio/frame_layout.h"    // IWYU pragma: export
#include "audio/motion_stream.h"   // IWYU pragma: export
#include "audio/speech_encoder.h"  // IWYU pragma: export
