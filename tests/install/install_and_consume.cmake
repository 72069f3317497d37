# Installs the build into a scratch prefix, then builds and runs a host against it twice: through
# find_package(ko_core) and through pkg-config; and imports the Python package from it, which must
# find the installed library by itself. Arguments: BUILD_DIR, SOURCE_DIR, WORK_DIR, PYTHON,
# PYTHON_SITE.
file(REMOVE_RECURSE "${WORK_DIR}")
set(prefix "${WORK_DIR}/prefix")

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "failed: ${ARGN}\n${out}\n${err}")
  endif()
endfunction()

run(${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${prefix}")
run(${CMAKE_COMMAND} -S "${SOURCE_DIR}" -B "${WORK_DIR}/cmake-host" "-DCMAKE_PREFIX_PATH=${prefix}")
run(${CMAKE_COMMAND} --build "${WORK_DIR}/cmake-host")
run("${WORK_DIR}/cmake-host/consumer")

set(ENV{PKG_CONFIG_PATH} "${prefix}/lib/pkgconfig")
execute_process(COMMAND pkg-config --cflags --libs ko_core OUTPUT_VARIABLE flags RESULT_VARIABLE status
                OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "pkg-config does not know ko_core")
endif()
separate_arguments(flags UNIX_COMMAND "${flags}")
run(cc "${SOURCE_DIR}/consumer.c" ${flags} -o "${WORK_DIR}/pkg-config-host")
run("${WORK_DIR}/pkg-config-host")
run("${prefix}/bin/ko" --help)
unset(ENV{KO_CORE_LIB})
set(ENV{PYTHONPATH} "${prefix}/${PYTHON_SITE}")
execute_process(COMMAND ${PYTHON} -c "import ko_core, ko_core._library as l; print(l.lib._name)"
                OUTPUT_VARIABLE loaded RESULT_VARIABLE status ERROR_VARIABLE err OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT status EQUAL 0 OR NOT loaded MATCHES "^${prefix}/")
  message(FATAL_ERROR "the installed Python package did not load the installed library: ${loaded}\n${err}")
endif()
message(STATUS "installed library consumed through find_package, pkg-config and Python")
