// The teeth subsystem's readers and mouth geometry: the JSON reader, the geometry stamp, the unified
// compose geometry, the lip contour and the compose-v2 structure a lip template carries.
#pragma once

#include "tessera/base64.h"
#include "tessera/compose_v2_template.h"
#include "tessera/corpus_geometry.h"
#include "tessera/geometry_stamp.h"
#include "tessera/json.h"
#include "tessera/lip_contour.h"
#include "tessera/unified_pi.h"
