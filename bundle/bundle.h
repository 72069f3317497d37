// The bundle subsystem's door: locating and unpacking identity bundles, member names, whole-file
// reads, the manifest, the mapped identity tensors, the idle-loop tables, and cursors over the
// driver video and the prior movie the manifest names. Other subsystems include this header only.
#pragma once

#include "bundle/bundle_cursors.h"   // IWYU pragma: export
#include "bundle/drive.h"            // IWYU pragma: export
#include "bundle/file_io.h"          // IWYU pragma: export
#include "bundle/identity.h"         // IWYU pragma: export
#include "bundle/imx_container.h"    // IWYU pragma: export
#include "bundle/manifest.h"         // IWYU pragma: export
#include "bundle/manifest_fields.h"  // IWYU pragma: export
#include "bundle/mapped_file.h"      // IWYU pragma: export
#include "bundle/member_names.h"     // IWYU pragma: export
