// The bundle subsystem's door: locating and unpacking identity bundles, member names, whole-file
// reads and the manifest. Other subsystems include this header only.
#pragma once

#include "bundle/file_io.h"          // IWYU pragma: export
#include "bundle/imx_container.h"    // IWYU pragma: export
#include "bundle/manifest.h"         // IWYU pragma: export
#include "bundle/manifest_fields.h"  // IWYU pragma: export
#include "bundle/member_names.h"     // IWYU pragma: export
