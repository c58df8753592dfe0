# Installs what a host developer needs: the public header, the shared
# library, a CMake package (find_package(zm) -> zm::zm) and zm.pc.
# Everything goes into the components "runtime" and "development" so that
# the package can be installed without the tools.
include(CMakePackageConfigHelpers)

install(TARGETS zm EXPORT zmTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT development
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development)
install(FILES ${PROJECT_SOURCE_DIR}/include/zm/zm.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/zm COMPONENT development)

set(_zm_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/zm)
install(EXPORT zmTargets NAMESPACE zm:: DESTINATION ${_zm_cmake_dir} COMPONENT development)
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/zmConfig.cmake.in
  ${CMAKE_BINARY_DIR}/zmConfig.cmake INSTALL_DESTINATION ${_zm_cmake_dir})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/zmConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/zmConfig.cmake ${CMAKE_BINARY_DIR}/zmConfigVersion.cmake
  DESTINATION ${_zm_cmake_dir} COMPONENT development)

# zm.pc finds its prefix from its own location, so the package can be moved
# or installed with `cmake --install --prefix` into any folder.
set(_zm_pc_dir ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
file(RELATIVE_PATH ZM_PC_PREFIX_FROM_PCDIR /prefix/${_zm_pc_dir} /prefix)
string(REGEX REPLACE "/$" "" ZM_PC_PREFIX_FROM_PCDIR "${ZM_PC_PREFIX_FROM_PCDIR}")
if(ZM_PC_PREFIX_FROM_PCDIR STREQUAL "")
  set(ZM_PC_PREFIX_FROM_PCDIR ".")
endif()
configure_file(${CMAKE_CURRENT_LIST_DIR}/zm.pc.in ${CMAKE_BINARY_DIR}/zm.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/zm.pc DESTINATION ${_zm_pc_dir} COMPONENT development)
