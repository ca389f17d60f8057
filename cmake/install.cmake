# What `cmake --install` lays out under its prefix:
#
#   include/transys/<folder>/<header>  the headers, at their paths in the tree
#                                      (includes are written from the
#                                      repository root, so consumers add
#                                      include/transys to their include path)
#   <libdir>/libtransys.so.1.0, .so.1  the library and its soname link
#   <libdir>/libtrc.so, libmessage.so  the host stand-ins
#   <libdir>/libtransys.so             the link for linking against it
#   <libdir>/cmake/transys/            find_package(transys), with the imported
#                                      targets transys::transys, transys::trc
#                                      and transys::message
#   <libdir>/pkgconfig/transys.pc      pkg-config
#
# <libdir> is the target's multiarch folder (lib/x86_64-linux-gnu,
# lib/i386-linux-gnu).  Two components: "runtime" holds the shared
# libraries, "development" the rest; they become the two Debian packages
# (cmake/package.cmake).
include(CMakePackageConfigHelpers)

install(TARGETS transys trc message EXPORT transys-targets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    COMPONENT runtime
    NAMELINK_COMPONENT development)

# Headers are found when installing, so a header added to one of these
# folders is installed without a change here.  host/write_all.h belongs to
# the stand-ins' own sources.
set(transys_header_folders
  libtransys libraries/libldtr libutils/csgl libutils/cstr host)
foreach(folder ${transys_header_folders})
  install(DIRECTORY ${CMAKE_SOURCE_DIR}/${folder}/
    DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/transys/${folder}
    COMPONENT development
    FILES_MATCHING PATTERN "*.h" PATTERN "*.hpp"
    PATTERN "write_all.h" EXCLUDE)
endforeach()

set(transys_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/transys)
install(EXPORT transys-targets
  NAMESPACE transys::
  FILE transysTargets.cmake
  DESTINATION ${transys_cmake_dir}
  COMPONENT development)
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/transysConfig.cmake.in
  ${CMAKE_BINARY_DIR}/transysConfig.cmake
  INSTALL_DESTINATION ${transys_cmake_dir})
# The version file also refuses a consumer whose pointers are of another
# width: an x86_64 build never picks up the i386 library.
write_basic_package_version_file(${CMAKE_BINARY_DIR}/transysConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/transysConfig.cmake
              ${CMAKE_BINARY_DIR}/transysConfigVersion.cmake
  DESTINATION ${transys_cmake_dir}
  COMPONENT development)

# The .pc file finds the prefix from its own place, so the tree works
# wherever it is installed or unpacked.
file(RELATIVE_PATH transys_pc_to_prefix
  /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
string(REGEX REPLACE "/$" "" transys_pc_to_prefix "${transys_pc_to_prefix}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/transys.pc.in ${CMAKE_BINARY_DIR}/transys.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/transys.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
  COMPONENT development)
