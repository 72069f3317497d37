# Installs the shared library, the two public headers, a CMake package (find_package(ko_core) gives
# ko_core::ko_core) and a pkg-config file (pkg-config --cflags --libs ko_core).
include(CMakePackageConfigHelpers)

install(TARGETS ko_core EXPORT ko_core_targets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ko/ko.h ko/ko_a2x.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/ko)

set(KO_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/ko_core)
install(EXPORT ko_core_targets NAMESPACE ko_core:: DESTINATION ${KO_CMAKE_DIR})
configure_package_config_file(cmake/ko_core-config.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/ko_core-config.cmake INSTALL_DESTINATION ${KO_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/ko_core-config-version.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/ko_core-config.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/ko_core-config-version.cmake
        DESTINATION ${KO_CMAKE_DIR})

# The .pc file finds its prefix from its own place, so the install stays relocatable whatever depth
# the library directory has (lib, lib64, lib/x86_64-linux-gnu).
file(RELATIVE_PATH KO_PC_TO_PREFIX "/prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/prefix")
string(REGEX REPLACE "/$" "" KO_PC_TO_PREFIX "${KO_PC_TO_PREFIX}")
configure_file(cmake/ko_core.pc.in ${CMAKE_CURRENT_BINARY_DIR}/ko_core.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/ko_core.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
