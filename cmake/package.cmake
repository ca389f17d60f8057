# Debian packages, made by `cpack` in a build folder (scripts/package makes
# them for both targets):
#   libtransys1     the "runtime" component: libtransys.so.1 and the host
#                   stand-ins libtrc.so and libmessage.so, which it needs
#   libtransys-dev  the "development" component: headers, the libtransys.so
#                   link, the CMake package and the pkg-config file
# for the architecture of the build: amd64, or i386 for the i386 build.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME libtransys)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "libtransys maintainers <maintainers@libtransys.invalid>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime development)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE i386)
else()
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE amd64)
endif()

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libtransys1)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION
  "transaction system of the directory server
libtransys is the transaction system of a multi-threaded directory (LDAP)
server, with the server's support library (strings, locks, catalogue
messages, exceptions, trace front-ends) and stand-ins for the host's trace
and message services.")
# Written by hand from the symbol versions the library uses (GLIBC_2.34,
# GCC_3.0, CXXABI_1.3.9): the i386 build links the multilib copies of these
# libraries, which dpkg-shlibdeps cannot map to i386 packages.
set(CPACK_DEBIAN_RUNTIME_PACKAGE_DEPENDS
  "libc6 (>= 2.34), libgcc-s1 (>= 3.0), libstdc++6 (>= 5.2)")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libtransys-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION
  "transaction system of the directory server - development files
Headers of the C interface and of the support library, the CMake package
(find_package(transys)) and the pkg-config file (transys).")
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS
  "libtransys1 (= ${CPACK_PACKAGE_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE})")

include(CPack)
