# cmake/Packaging.cmake: what `cmake --install` puts where, and the packages CPack makes.
#
# The top-level CMakeLists.txt includes this file after every program folder, so the
# program targets exist here.
#
# Layout under the install prefix (the .deb uses the prefix /opt/sasburn):
#   bin/sasburn, bin/updater      side by side: updater runs ./sasburn from its working
#                                 directory, so the two always travel together
#   tools/fmxsim, tools/fwimage,  the emulator and the image builders, for rehearsals and
#   tools/bootimage               tests only; nothing in bin/ needs them
#   share/man/man8/sasburn.8, share/man/man8/updater.8, share/man/man1/fmxsim.1
#   share/doc/sasburn/README.md, share/doc/sasburn/fmxsim.md (sim/README.md: scenarios)
# man finds the pages without MANPATH when bin/ is on PATH (share/man beside bin/).
#
#   cmake --install build/native --prefix DIR     the layout above under DIR
#   cpack --config build/native/CPackConfig.cmake -B DIR
#       DIR/sasburn_<version>_<arch>.deb          installs under /opt/sasburn
#       DIR/sasburn-<version>-linux-<arch>.tar.gz one folder with the layout above
# <arch> is i386 in the 32-bit build (cmake/i386.cmake), amd64 otherwise. The .deb's
# dependencies come from dpkg-shlibdeps (package dpkg-dev), in the 32-bit build from the
# list below; it recommends umockdev, whose preload library fmxsim needs.

include_guard(GLOBAL)
include(GNUInstallDirs)

# `cmake --install`, cpack and the package test take the programs as they are built; they
# never start a build of their own (build first: cmake --build DIR).
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(FMX_INSTALL_TOOLSDIR "tools" CACHE STRING
  "Folder under the install prefix for fmxsim and the image builders")

foreach(program sasburn updater)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()
foreach(program fmxsim fwimage bootimage)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${FMX_INSTALL_TOOLSDIR})
  endif()
endforeach()

install(FILES ${PROJECT_SOURCE_DIR}/man/sasburn.8 ${PROJECT_SOURCE_DIR}/man/updater.8
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man8)
install(FILES ${PROJECT_SOURCE_DIR}/man/fmxsim.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
if(EXISTS ${PROJECT_SOURCE_DIR}/sim/README.md)
  install(FILES ${PROJECT_SOURCE_DIR}/sim/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR}
    RENAME fmxsim.md)
endif()

# ------------------------------------------------------------------------- CPack
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(FMX_PACKAGE_ARCH i386)
else()
  set(FMX_PACKAGE_ARCH amd64)
endif()

set(CPACK_PACKAGE_NAME sasburn)
set(CPACK_PACKAGE_VENDOR "Norvane")
set(CPACK_PACKAGE_CONTACT "sasburn maintainers <sasburn@localhost>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "firmware update tools for SAS-2 RAID and HBA controllers")
set(CPACK_PACKAGE_DESCRIPTION
  "sasburn lists SAS-2 RAID and HBA controllers and flashes their firmware and boot\n\
images; updater brings every configured controller of a server to the firmware named\n\
in firmware.cfg and reports the outcome in its exit status. fmxsim, in tools/, emulates\n\
the driver and the controllers, so that an update can be rehearsed without hardware.")
set(CPACK_GENERATOR "DEB;TGZ")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_FILE_NAME "sasburn-${PROJECT_VERSION}-linux-${FMX_PACKAGE_ARCH}")

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)   # sasburn_<version>_<arch>.deb
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${FMX_PACKAGE_ARCH})
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
if(FMX_PACKAGE_ARCH STREQUAL i386)
  # dpkg-shlibdeps would name the build machine's 32-bit C++ runtime, lib32stdc++6 (an
  # amd64 package, from g++-multilib); an i386 server has libstdc++6. These are the
  # libraries the programs link, with the versions dpkg-shlibdeps finds for them.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libc6 (>= 2.34), libgcc-s1 (>= 4.2), libstdc++6 (>= 11), libglib2.0-0 (>= 2.12.0), libumockdev0 (>= 0.16.0)")
else()
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS umockdev)

# The .deb installs under /opt/sasburn; the archive holds one folder with the layout.
set(FMX_DEB_INSTALL_PREFIX /opt/sasburn)
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_BINARY_DIR}/CPackProjectConfig.cmake)
file(WRITE ${CPACK_PROJECT_CONFIG_FILE}
  "# Written by cmake/Packaging.cmake; CPack reads it once per generator.\n"
  "if(CPACK_GENERATOR STREQUAL \"DEB\")\n"
  "  set(CPACK_PACKAGING_INSTALL_PREFIX \"${FMX_DEB_INSTALL_PREFIX}\")\n"
  "else()\n"
  "  set(CPACK_PACKAGING_INSTALL_PREFIX \"/\")\n"
  "endif()\n")

include(CPack)
