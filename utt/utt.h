// The utterance subsystem's door: the real-time pipeline that turns live speech into finished driver
// frames. Other subsystems include this header only.
#pragma once

#include "utt/frame_ring.h"    // IWYU pragma: export
#include "utt/offline_run.h"   // IWYU pragma: export
#include "utt/utt_pipeline.h"  // IWYU pragma: export
#include "utt/utt_settings.h"  // IWYU pragma: export
