# Debian packages of a build, for its architecture (amd64, or i386 for the
# i386 build):
#   libtransys1     the "runtime" component: libtransys.so.1 and the host
#                   stand-ins libtrc.so.1 and libmessage.so.1, which it needs
#   libtransys-dev  the "development" component: headers, the .so links,
#                   the CMake package and the pkg-config file
#
# Both are "Multi-Arch: same", so the amd64 and the i386 packages install
# side by side, as a 32-bit server on a 64-bit system needs: every file
# lies in the architecture's own library folder, except the headers, whose
# bytes are the same for every architecture.  CPack (CMake 3.25) cannot
# write that field, so the packages are built with dpkg-deb from control
# files made here:
#
#   cmake --build BUILD --target debian_packages   into BUILD/packages
#   cmake -D OUTPUT_DIR=DIR -P BUILD/debian_packages.cmake
#                                                  into DIR, from the build
#                                                  as it stands
#
# (scripts/package makes them for both targets.)
set(transys_deb_version ${PROJECT_VERSION}-1)
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(transys_deb_architecture i386)
else()
  set(transys_deb_architecture amd64)
endif()
set(transys_deb_maintainer "libtransys maintainers <maintainers@libtransys.invalid>")

set(transys_deb_runtime_package libtransys1)
# Written by hand from the symbol versions the library uses (GLIBC_2.34,
# GCC_3.0, CXXABI_1.3.9): the i386 build links the multilib copies of these
# libraries, which dpkg-shlibdeps cannot map to i386 packages.
set(transys_deb_runtime_depends "libc6 (>= 2.34), libgcc-s1 (>= 3.0), libstdc++6 (>= 5.2)")
set(transys_deb_runtime_description
  "transaction system of the directory server
libtransys is the transaction system of a multi-threaded directory (LDAP)
server, with the server's support library (strings, locks, catalogue
messages, exceptions, trace front-ends) and stand-ins for the host's trace
and message services.")

set(transys_deb_development_package libtransys-dev)
set(transys_deb_development_depends "${transys_deb_runtime_package} (= ${transys_deb_version})")
set(transys_deb_development_description
  "transaction system of the directory server - development files
Headers of the C interface and of the support library, the CMake package
(find_package(transys)) and the pkg-config file (transys).")

# The control files, and the runtime package's shlibs (what a package
# built against the libraries depends on) and ldconfig trigger, as
# debhelper writes them for a shared library package.  Installed-Size is
# counted when the package is made.
function(transys_deb_control package section depends description)
  string(REGEX REPLACE "\n\n" "\n.\n" description "${description}")
  string(REPLACE "\n" "\n " description "${description}")
  file(WRITE ${CMAKE_BINARY_DIR}/debian/${package}/control
"Package: ${package}
Source: libtransys
Version: ${transys_deb_version}
Architecture: ${transys_deb_architecture}
Multi-Arch: same
Maintainer: ${transys_deb_maintainer}
Installed-Size: 0
Depends: ${depends}
Section: ${section}
Priority: optional
Description: ${description}
")
endfunction()
file(REMOVE_RECURSE ${CMAKE_BINARY_DIR}/debian)
transys_deb_control(${transys_deb_runtime_package} libs
  "${transys_deb_runtime_depends}" "${transys_deb_runtime_description}")
transys_deb_control(${transys_deb_development_package} libdevel
  "${transys_deb_development_depends}" "${transys_deb_development_description}")
set(transys_deb_shlibs "")
foreach(library transys trc message)
  get_target_property(transys_deb_soversion ${library} SOVERSION)
  string(APPEND transys_deb_shlibs
    "lib${library} ${transys_deb_soversion} ${transys_deb_runtime_package} (>= ${transys_deb_version})\n")
endforeach()
file(WRITE ${CMAKE_BINARY_DIR}/debian/${transys_deb_runtime_package}/shlibs "${transys_deb_shlibs}")
file(WRITE ${CMAKE_BINARY_DIR}/debian/${transys_deb_runtime_package}/triggers
  "activate-noawait ldconfig\n")

# Which component each package holds.
set(transys_deb_packages
  "${transys_deb_runtime_package}:runtime;${transys_deb_development_package}:development")
configure_file(${CMAKE_CURRENT_LIST_DIR}/debian_packages.cmake.in
  ${CMAKE_BINARY_DIR}/debian_packages.cmake @ONLY)
add_custom_target(debian_packages
  COMMAND ${CMAKE_COMMAND} -D OUTPUT_DIR=${CMAKE_BINARY_DIR}/packages
          -P ${CMAKE_BINARY_DIR}/debian_packages.cmake
  COMMENT "Debian packages in ${CMAKE_BINARY_DIR}/packages"
  VERBATIM)
add_dependencies(debian_packages transys trc message)
