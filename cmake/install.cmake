# What `cmake --install` puts under the prefix, and the Debian package built from it with CPack.
#
#   bin/lumaret-wayland, bin/lumaret-type
#   share/man/man1/lumaret-wayland.1, share/man/man1/lumaret-type.1
#   share/doc/lumaret/config.example.json
#   lib/systemd/user/lumaret-wayland.service
#
# Nothing else: libraries, test programs and benchmarks stay in the build tree.
# scripts/check-install checks this list, the man pages and the unit; scripts/check-package checks the package.

include(GNUInstallDirs)

set(LUMARET_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)

install(TARGETS lumaret-wayland lumaret-type RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${LUMARET_PACKAGING_DIR}/lumaret-wayland.1 ${LUMARET_PACKAGING_DIR}/lumaret-type.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${LUMARET_PACKAGING_DIR}/config.example.json DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The systemd user unit names the installed binary by its full path. The prefix is only known for certain at
# install time (`cmake --install --prefix P`, or CPack's /usr), so the unit is configured then, from the
# template, straight into the staging or target directory; it is added to the install manifest like any file.
# User units live in lib/systemd/user under the prefix whatever the platform's library directory is.
set(LUMARET_UNIT_DIR lib/systemd/user)
install(
  CODE "
  set(lumaret_bindir \"${CMAKE_INSTALL_BINDIR}\")
  if(NOT IS_ABSOLUTE \"\${lumaret_bindir}\")
    set(lumaret_bindir \"\${CMAKE_INSTALL_PREFIX}/\${lumaret_bindir}\")
  endif()
  set(LUMARET_UNIT_BINDIR \"\${lumaret_bindir}\")
  set(lumaret_unit \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${LUMARET_UNIT_DIR}/lumaret-wayland.service\")
  message(STATUS \"Installing: \${lumaret_unit}\")
  configure_file(\"${LUMARET_PACKAGING_DIR}/lumaret-wayland.service.in\" \"\${lumaret_unit}\" @ONLY)
  list(APPEND CMAKE_INSTALL_MANIFEST_FILES \"\${lumaret_unit}\")
")

# ---- Debian package: `make package` --------------------------------------------------------------------
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME lumaret)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Lumaret")
set(CPACK_PACKAGE_CONTACT "Lumaret maintainers <lumaret@invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Vietnamese input method for Wayland compositors")
set(CPACK_PACKAGE_DESCRIPTION
    "Lumaret types Vietnamese under Sway, Hyprland, niri and other compositors that offer the
input-method-unstable-v2 and virtual-keyboard-unstable-v1 protocols. Keys typed in Telex, Simple Telex,
VNI or VIQR become correctly spelled Vietnamese; words that cannot be Vietnamese are given back as typed.
One JSON file configures it; a systemd user unit starts it with the graphical session.
lumaret-type tries the same engine on lines of keys without a compositor.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # lumaret_<version>_<arch>.deb
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# dpkg-shlibdeps (dpkg-dev) derives the dependencies from the libraries the binaries link; without it, the
# Debian 12 packages of those libraries are named by hand.
find_program(LUMARET_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(LUMARET_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  message(STATUS "dpkg-shlibdeps not found: the package's dependencies are listed by hand")
  set(CPACK_DEBIAN_PACKAGE_DEPENDS
      "libc6, libstdc++6, libgcc-s1, libicu72, libwayland-client0, libxkbcommon0, libspdlog1.10, libfmt9")
endif()
# Only what the install rules above list goes into the package.
set(CPACK_SOURCE_GENERATOR "")
include(CPack)

# ---- Checks run by ctest ---------------------------------------------------------------------------------
if(LUMARET_TESTS)
  # Installs into a temporary prefix: the exact file list, the man pages through groff -ww, the unit through
  # systemd-analyze verify.
  add_test(NAME install-layout COMMAND ${PROJECT_SOURCE_DIR}/scripts/check-install ${CMAKE_BINARY_DIR})
  # The keys and options named by the man pages and READMEs are the ones the programs accept.
  add_test(NAME documented-keys COMMAND ${PROJECT_SOURCE_DIR}/scripts/check-documented-keys
                                        $<TARGET_FILE:lumaret-wayland> $<TARGET_FILE:lumaret-type>)
endif()
