# The teeth subsystem's readers and geometry need no third-party library, so the fuzz build compiles
# these files alone.
set(KO_TESSERA_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/attach_inputs.cc
  ${CMAKE_CURRENT_LIST_DIR}/base64.cc
  ${CMAKE_CURRENT_LIST_DIR}/compose_v2_template.cc
  ${CMAKE_CURRENT_LIST_DIR}/contour_feather.cc
  ${CMAKE_CURRENT_LIST_DIR}/corpus_geometry.cc
  ${CMAKE_CURRENT_LIST_DIR}/geometry_stamp.cc
  ${CMAKE_CURRENT_LIST_DIR}/head_weights.cc
  ${CMAKE_CURRENT_LIST_DIR}/json.cc
  ${CMAKE_CURRENT_LIST_DIR}/lip_contour.cc
  ${CMAKE_CURRENT_LIST_DIR}/lip_template.cc
  ${CMAKE_CURRENT_LIST_DIR}/pickle.cc
  ${CMAKE_CURRENT_LIST_DIR}/polygon_fill.cc
  ${CMAKE_CURRENT_LIST_DIR}/serve_config.cc
  ${CMAKE_CURRENT_LIST_DIR}/unified_pi.cc
  ${CMAKE_CURRENT_LIST_DIR}/unified_pi_manifest.cc
  ${CMAKE_CURRENT_LIST_DIR}/zip_directory.cc)
