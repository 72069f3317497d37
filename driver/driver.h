// The driver subsystem's door: frame sources over JPEG directories and FFmpeg-decoded movies, the
// look-ahead cursor that plays them as an endless loop, and still-image reading and writing.
#pragma once

#include "driver/cursor.h"
#include "driver/ff_handles.h"  // FFmpeg's owning handles, for decoders of other subsystems
#include "driver/image_io.h"
#include "driver/source.h"
