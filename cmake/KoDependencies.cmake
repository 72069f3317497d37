# Third-party dependencies, all installed by scripts/install-deps.sh. Each becomes an imported target
# that subsystems link as they need it.
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)

# ONNX Runtime: a system development package when present, else the prefix the install script
# assembles (ONNXRUNTIME_ROOT, or the environment's KO_ORT_PREFIX, or the script's default place).
set(_ko_ort_default "$ENV{HOME}/.cache/ko_core/onnxruntime-1.30.0")
if(DEFINED ENV{KO_ORT_PREFIX} AND NOT "$ENV{KO_ORT_PREFIX}" STREQUAL "")
  set(_ko_ort_default "$ENV{KO_ORT_PREFIX}")
endif()
set(ONNXRUNTIME_ROOT "" CACHE PATH "Prefix holding ONNX Runtime's include/ and lib/")
pkg_check_modules(KO_SYSTEM_ORT QUIET IMPORTED_TARGET libonnxruntime)
if(ONNXRUNTIME_ROOT STREQUAL "" AND KO_SYSTEM_ORT_FOUND)
  add_library(ko::onnxruntime ALIAS PkgConfig::KO_SYSTEM_ORT)
  set(KO_ORT_LIBDIR "")
else()
  if(ONNXRUNTIME_ROOT STREQUAL "")
    set(ONNXRUNTIME_ROOT "${_ko_ort_default}" CACHE PATH "" FORCE)
  endif()
  find_path(KO_ORT_INCLUDE_DIR onnxruntime_c_api.h
    PATHS "${ONNXRUNTIME_ROOT}/include" "${ONNXRUNTIME_ROOT}/include/onnxruntime" NO_DEFAULT_PATH)
  find_library(KO_ORT_LIBRARY NAMES onnxruntime PATHS "${ONNXRUNTIME_ROOT}/lib" NO_DEFAULT_PATH)
  if(NOT KO_ORT_INCLUDE_DIR OR NOT KO_ORT_LIBRARY)
    message(FATAL_ERROR "ONNX Runtime not found under ${ONNXRUNTIME_ROOT}: run scripts/install-deps.sh "
                        "or pass -DONNXRUNTIME_ROOT=<prefix with include/ and lib/>")
  endif()
  add_library(ko::onnxruntime SHARED IMPORTED GLOBAL)
  set_target_properties(ko::onnxruntime PROPERTIES
    IMPORTED_LOCATION "${KO_ORT_LIBRARY}" IMPORTED_SONAME "libonnxruntime.so.1"
    INTERFACE_INCLUDE_DIRECTORIES "${KO_ORT_INCLUDE_DIR}")
  get_filename_component(KO_ORT_LIBDIR "${KO_ORT_LIBRARY}" DIRECTORY)
endif()

pkg_check_modules(KO_FFMPEG REQUIRED IMPORTED_TARGET libavformat libavcodec libswscale libswresample libavutil)
add_library(ko::ffmpeg ALIAS PkgConfig::KO_FFMPEG)

find_package(hwy REQUIRED)
# libcrypto's digests check that a graph splice belongs to the exact model bytes it was built for.
find_package(OpenSSL REQUIRED COMPONENTS Crypto)
# stb: Debian's libstb-dev ships the implementations compiled into libstb, so no source file of
# ours defines STB_IMAGE_IMPLEMENTATION; linking the packaged library keeps one copy of the codecs.
find_path(KO_STB_INCLUDE_DIR stb_image.h PATH_SUFFIXES stb REQUIRED)
find_library(KO_STB_LIBRARY NAMES stb REQUIRED)
add_library(ko::stb UNKNOWN IMPORTED GLOBAL)
set_target_properties(ko::stb PROPERTIES
  IMPORTED_LOCATION "${KO_STB_LIBRARY}"
  INTERFACE_INCLUDE_DIRECTORIES "${KO_STB_INCLUDE_DIR}")

if(KO_BUILD_TESTS)
  find_package(GTest REQUIRED)
endif()
if(KO_BUILD_BENCH)
  find_package(benchmark REQUIRED)
endif()

# Installed binaries find a prefix-assembled ONNX Runtime without LD_LIBRARY_PATH.
if(KO_ORT_LIBDIR)
  list(APPEND CMAKE_INSTALL_RPATH "${KO_ORT_LIBDIR}")
endif()
