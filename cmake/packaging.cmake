# `cpack -G DEB` in the build folder: one package with everything `cmake --install` installs,
# below /usr. Its run-time dependencies (libsndfile and libebur128 for ovm, the C++ runtime
# for both) come from dpkg-shlibdeps.
set(CPACK_PACKAGE_NAME dynamics)
set(CPACK_PACKAGE_VENDOR "Dynamics")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Dynamics processing modules with a host library and the ovm host")
set(CPACK_PACKAGE_DESCRIPTION
  "Dynamics.ovm is a module library that audio hosts load through its one exported
function: peak, hard knee, peak hold, smoother, integrator, ms2factor and factor2ms.
The package also holds ovm, a command-line host that runs patches of modules over
sound files and validates module libraries, and the host library with its headers,
a CMake package and a pkg-config file for building hosts of one's own.")
set(CPACK_PACKAGE_CONTACT "Dynamics maintainers <maintainers@dynamics.invalid>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
