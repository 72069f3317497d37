// The teeth subsystem's door: the teeth members and their carriage, the blend head's weights and
// serving configuration, the bank track decode, the mouth geometry (JSON reader, geometry stamp,
// unified compose geometry, lip contour, compose-v2 structure), the teeth pass and the stream borrow
// that drives it.
#pragma once

#include "tessera/attach_inputs.h"
#include "tessera/bank_track.h"
#include "tessera/base64.h"
#include "tessera/carriage.h"
#include "tessera/compose_v2_template.h"
#include "tessera/corpus_geometry.h"
#include "tessera/geometry_stamp.h"
#include "tessera/head_weights.h"
#include "tessera/json.h"
#include "tessera/lip_contour.h"
#include "tessera/members.h"
#include "tessera/serve_config.h"
#include "tessera/stream_borrow.h"
#include "tessera/teeth_pass.h"
#include "tessera/unified_pi.h"
