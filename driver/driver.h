// The driver subsystem's door: frame sources over JPEG directories and FFmpeg-decoded movies, and
// the look-ahead cursor that plays them as an endless loop.
#pragma once

#include "driver/cursor.h"
#include "driver/source.h"
