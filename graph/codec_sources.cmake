# The wire codec and the rewrites written purely on it need no third-party library, so the fuzz build
# compiles these files alone.
set(KO_GRAPH_CODEC_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/cubic_taps.cc
  ${CMAKE_CURRENT_LIST_DIR}/graph_index.cc
  ${CMAKE_CURRENT_LIST_DIR}/gridsample_rewrite.cc
  ${CMAKE_CURRENT_LIST_DIR}/head_cubic_resize.cc
  ${CMAKE_CURRENT_LIST_DIR}/lip_bind.cc
  ${CMAKE_CURRENT_LIST_DIR}/node_retype.cc
  ${CMAKE_CURRENT_LIST_DIR}/onnx_attribute.cc
  ${CMAKE_CURRENT_LIST_DIR}/onnx_read.cc
  ${CMAKE_CURRENT_LIST_DIR}/onnx_view.cc
  ${CMAKE_CURRENT_LIST_DIR}/onnx_wire.cc
  ${CMAKE_CURRENT_LIST_DIR}/onnx_write.cc
  ${CMAKE_CURRENT_LIST_DIR}/rebuild.cc
  ${CMAKE_CURRENT_LIST_DIR}/resize_attrs.cc
  ${CMAKE_CURRENT_LIST_DIR}/student_blend.cc
  ${CMAKE_CURRENT_LIST_DIR}/source_cone.cc
  ${CMAKE_CURRENT_LIST_DIR}/unread_initializers.cc
  ${CMAKE_CURRENT_LIST_DIR}/warp_rewrite.cc)
