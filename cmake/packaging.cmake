# Binary packages with CPack: a Debian package on Linux, a ZIP elsewhere.
# Packages are built from a tree configured with -DCMAKE_INSTALL_PREFIX=/usr:
# the program looks for the simulated instruments under the library directory
# of the prefix it was configured for, so that prefix has to be the one the
# package installs into (cpack refuses otherwise, see cpack-options.cmake.in).

set(CPACK_PACKAGE_NAME ${PROJECT_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "usbsynth developers")
set(CPACK_PACKAGE_CONTACT "usbsynth developers <usbsynth@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_INSTALL_DIRECTORY ${PROJECT_NAME})
set(CPACK_STRIP_FILES ON)

if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
    set(CPACK_GENERATOR DEB)
else()
    set(CPACK_GENERATOR ZIP)
endif()

set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Dependencies come from the libraries the installed binaries link against.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The long description; CPack puts the summary line above it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"A desktop control panel for small USB-powered RF signal synthesizers,
reached through a VISA library loaded at run time. Finds the attached
instruments, sets frequency, output power, reference and PLL mode,
shows lock status and temperature, edits the stored instrument states
and keeps a run log.

Without a vendor's VISA library the program uses its own over the Linux
kernel's usbtmc driver; a udev rule gives the logged-in user access to
the instruments' /dev/usbtmcN nodes.

A library of simulated instruments is included: start the program with
USBSYNTH_VISA_LIBRARY=sim to use it without hardware.

usbsynth-ctl drives the same instruments from shell scripts, without a
window: list, read, set, sweep.")
# Reloads udev so the rule applies to instruments already plugged in.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${CMAKE_CURRENT_LIST_DIR}/postinst ${CMAKE_CURRENT_LIST_DIR}/postrm)

configure_file(${CMAKE_CURRENT_LIST_DIR}/cpack-options.cmake.in
               ${CMAKE_BINARY_DIR}/CPackOptions.cmake @ONLY)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_BINARY_DIR}/CPackOptions.cmake)

include(CPack)
