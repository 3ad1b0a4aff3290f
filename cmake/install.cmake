# What `cmake --install` puts below the prefix (the .deb uses the same layout below /usr):
#   bin/ovm                                     the command-line host
#   share/man/man1/ovm.1                        its manual page (when help2man was found)
#   share/bash-completion/completions/ovm       its bash completion
#   lib/dynamics/Dynamics.ovm, Dynamics.toml    the module library and its description
#   include/dynamics/abi/*.h                    the binary interface
#   include/dynamics/host/*.h, lib/libdynamics-host.a   the host library
#   lib/cmake/Dynamics/                         find_package(Dynamics): Dynamics::abi,
#                                               Dynamics::host, Dynamics::library
#   lib/pkgconfig/dynamics-host.pc              the host library for pkg-config
#   lib/lv2/Dynamics.lv2/                       the LV2 plug-ins, with their own copy of
#                                               Dynamics.ovm and Dynamics.toml
include(CMakePackageConfigHelpers)

set(MP_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/Dynamics)

install(TARGETS Dynamics EXPORT DynamicsTargets LIBRARY DESTINATION ${MP_INSTALL_MODULEDIR})
install(FILES ${PROJECT_BINARY_DIR}/bin/Dynamics.toml DESTINATION ${MP_INSTALL_MODULEDIR})
install(TARGETS mpabi mphost EXPORT DynamicsTargets ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
# Every header of the two folders: a header added to host/ is installed without a list to keep.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/abi ${PROJECT_SOURCE_DIR}/host DESTINATION ${MP_INSTALL_INCLUDEDIR}
  FILES_MATCHING PATTERN "*.h")
if(MP_BUILD_OVM)
  install(TARGETS ovm RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  if(OVM_MAN_PAGE)
    install(FILES ${OVM_MAN_PAGE} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endif()
  if(OVM_BASH_COMPLETION)
    install(FILES ${OVM_BASH_COMPLETION} DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
  endif()
endif()
if(TARGET dynamics_lv2)
  # LV2 hosts look in <prefix>/lib/lv2 (Debian's own plug-ins are in /usr/lib/lv2).
  set(MP_INSTALL_LV2DIR lib/lv2/Dynamics.lv2)
  install(TARGETS dynamics_lv2 LIBRARY DESTINATION ${MP_INSTALL_LV2DIR})
  install(FILES ${MP_LV2_BUNDLE}/manifest.ttl ${MP_LV2_BUNDLE}/Dynamics.ttl ${MP_LV2_BUNDLE}/Dynamics.toml
    DESTINATION ${MP_INSTALL_LV2DIR})
  install(PROGRAMS ${MP_LV2_BUNDLE}/Dynamics.ovm DESTINATION ${MP_INSTALL_LV2DIR})
endif()

install(EXPORT DynamicsTargets NAMESPACE Dynamics:: DESTINATION ${MP_INSTALL_CMAKEDIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/DynamicsConfig.cmake.in
  ${PROJECT_BINARY_DIR}/DynamicsConfig.cmake INSTALL_DESTINATION ${MP_INSTALL_CMAKEDIR})
# Before 1.0 a minor version may change the host library's interface.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/DynamicsConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/DynamicsConfig.cmake ${PROJECT_BINARY_DIR}/DynamicsConfigVersion.cmake
  DESTINATION ${MP_INSTALL_CMAKEDIR})

# The .pc file finds the prefix from its own place, so an installed tree can be moved.
file(RELATIVE_PATH MP_PC_PREFIX_FROM_PCFILEDIR ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
string(REGEX REPLACE "/$" "" MP_PC_PREFIX_FROM_PCFILEDIR ${MP_PC_PREFIX_FROM_PCFILEDIR})
set(MP_PC_DL_LIBS "")
foreach(library ${CMAKE_DL_LIBS})
  string(APPEND MP_PC_DL_LIBS " -l${library}")
endforeach()
configure_file(${CMAKE_CURRENT_LIST_DIR}/dynamics-host.pc.in ${PROJECT_BINARY_DIR}/dynamics-host.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/dynamics-host.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
