# The Debian package: `cpack -G DEB` in a build tree configured with
# -DCMAKE_INSTALL_PREFIX=/usr (packaging/check-package.sh builds, installs and removes it).
# Included from the top-level CMakeLists.txt after every install() rule.

set(CPACK_PACKAGE_NAME quorvel)
set(CPACK_PACKAGE_VENDOR "The Quorvel developers")
set(QUORVEL_PACKAGE_MAINTAINER "The Quorvel developers <developers@quorvel.app>" CACHE STRING
  "Maintainer of the Debian package, as Name <address>")
set(CPACK_PACKAGE_CONTACT "${QUORVEL_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_HOMEPAGE_URL "${QUORVEL_HOMEPAGE_URL}")
set(CPACK_RESOURCE_FILE_LICENSE "${PROJECT_SOURCE_DIR}/LICENSE")
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT) # quorvel_VERSION-REVISION_ARCH.deb
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Below the summary line (the project's description), which CPack puts first.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "\
Quorvel keeps the sample rate of an M-1620 audio interface in step with the
rate arriving at its MADI input: when the input carries another supported
rate, it switches the device to it and says so with a desktop notification.
It lives in the desktop's tray; without a desktop it runs headless as a
systemd user service (quorvel.service).

The package also holds m1620-sim, an M-1620 simulator on loopback for
trying Quorvel without the device.")
# The libraries come from the binaries themselves (dpkg-shlibdeps); added to them: pgrep,
# with which Quorvel looks for the old tool.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "procps")
# Discovery needs the mDNS daemon, a Wayland session the native platform plugin, and the
# PipeWire option pw-metadata (pipewire-bin holds only the programs: it starts nothing); without
# them Quorvel still syncs (hosts are entered by hand; X11 through XWayland).
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "avahi-daemon, qt6-wayland, pipewire-bin")

# A package installs under /usr, and the user unit names the program by its path there: a
# tree configured for another prefix would build a package whose service cannot start.
configure_file(${CMAKE_CURRENT_LIST_DIR}/CPackProjectConfig.cmake.in
  ${CMAKE_BINARY_DIR}/CPackProjectConfig.cmake @ONLY)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_BINARY_DIR}/CPackProjectConfig.cmake)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)

include(CPack)
