# Read by cpack before it packs. The programs find their data through the install prefix compiled
# into them, so a package of a /usr/local build would install programs that cannot find their skin.
if(CPACK_GENERATOR STREQUAL "DEB" AND NOT CPACK_PACKAGING_INSTALL_PREFIX STREQUAL "/usr")
  message(FATAL_ERROR "A Debian package needs a build configured with -DCMAKE_INSTALL_PREFIX=/usr "
                      "(this one has ${CPACK_PACKAGING_INSTALL_PREFIX}); scripts/package.sh makes one.")
endif()
