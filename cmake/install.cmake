# What `cmake --install` lays out under its prefix:
#
#   include/transys/<folder>/<header>  the public headers, at their paths in
#                                      the tree (includes are written from
#                                      the repository root, so consumers add
#                                      include/transys to their include path)
#   <libdir>/libtransys.so.1.0, .so.1  the library and its soname link; its
#                                      run path $ORIGIN finds the stand-ins
#                                      beside it wherever the tree lies
#   <libdir>/libtrc.so.1.0, .so.1      the host stand-ins, likewise
#   <libdir>/libmessage.so.1.0, .so.1
#   <libdir>/libtransys.so, libtrc.so, the links for linking against them
#     libmessage.so
#   <libdir>/cmake/transys/            find_package(transys), with the imported
#                                      targets transys::transys, transys::trc
#                                      and transys::message
#   <libdir>/pkgconfig/transys.pc      pkg-config
#
# <libdir> is the target's multiarch folder (lib/x86_64-linux-gnu,
# lib/i386-linux-gnu).  Two components: "runtime" holds the shared
# libraries and their soname links, "development" the rest; they become the
# two Debian packages (cmake/package.cmake).
include(CMakePackageConfigHelpers)

install(TARGETS transys trc message EXPORT transys-targets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    COMPONENT runtime
    NAMELINK_COMPONENT development)

# The public headers: the interface and every header it includes, and
# nothing else (the .inc files are the formatter members the two trace
# front-ends' headers share, included inside their class bodies).  Headers
# that only the library's own sources include (csgl_allocation_size.hpp,
# csgl_exc_named.hpp, trace/trace_core.hpp, trace/trace_text.hpp,
# trace/trace_formatters.inc, host/write_all.h) are not installed; a header
# that a public one starts to include joins this list, or an installed
# header stops compiling on its own (the consumer tests compile each).
set(transys_public_headers
  host/connection.h
  host/input.hpp
  host/message.h
  host/trc.h
  libraries/libldtr/ldtr.hpp
  libtransys/tran_api.h
  libtransys/tran_connection.hpp
  libtransys/tran_id.hpp
  libtransys/tran_system.hpp
  libutils/base/export.h
  libutils/base/thread_annotations.h
  libutils/csgl/csgl_ban.hpp
  libutils/csgl/csgl_exc.hpp
  libutils/csgl/csgl_exc_tree.def
  libutils/csgl/csgl_file.hpp
  libutils/csgl/csgl_local.hpp
  libutils/csgl/csgl_message.hpp
  libutils/csgl/csgl_output.hpp
  libutils/csgl/csgl_refcounted.hpp
  libutils/csgl/csgl_str.hpp
  libutils/csgl/csgl_string.hpp
  libutils/csgl/csgl_sync.hpp
  libutils/csgl/csgl_trc.hpp
  libutils/cstr/cstr.hpp
  libutils/trace/trace_global_formatter.inc
  libutils/trace/trace_ids.h
  libutils/trace/trace_local_formatter.inc)
foreach(header ${transys_public_headers})
  get_filename_component(folder ${header} DIRECTORY)
  install(FILES ${CMAKE_SOURCE_DIR}/${header}
    DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/transys/${folder}
    COMPONENT development)
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

# The .pc file finds the prefix and the library folder from its own place,
# so the tree works wherever it is installed or unpacked.
file(RELATIVE_PATH transys_pc_to_prefix
  /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
string(REGEX REPLACE "/$" "" transys_pc_to_prefix "${transys_pc_to_prefix}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/transys.pc.in ${CMAKE_BINARY_DIR}/transys.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/transys.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
  COMPONENT development)
