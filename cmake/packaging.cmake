# The release packages, made by cpack from a configured build (scripts/package.sh makes both):
#   Windows:     arc_varel-VERSION-win32.zip, a folder holding arc_varel.dll, varel.exe and
#                README.txt; the DLL and the program are the build's files as they are.
#   64-bit Linux: varel_VERSION_amd64.deb, varel in /usr/bin, the plug-in and the platform
#                library in varel's private folder /usr/lib/varel, and the page varel(1).
# Each is an install component of its own, outside `cmake --install`, which keeps putting
# everything side by side in PREFIX/bin. VERSION is the project's.

# cpack installs without building first (scripts/package.sh builds varel_package_files, what
# the packages hold), so that packing needs no more than that; `cmake --install` never builds.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
add_custom_target(varel_package_files)
add_dependencies(varel_package_files varel arc_varel)

set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "arc_varel")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "list, extract and pack PSARC archives and PKG containers")

if(WIN32)
  configure_file(${CMAKE_SOURCE_DIR}/docs/README-windows.txt.in
                 ${CMAKE_BINARY_DIR}/package/README.txt @ONLY NEWLINE_STYLE CRLF)
  install(TARGETS varel arc_varel RUNTIME DESTINATION . COMPONENT zip EXCLUDE_FROM_ALL)
  install(FILES ${CMAKE_BINARY_DIR}/package/README.txt DESTINATION . COMPONENT zip
          EXCLUDE_FROM_ALL)

  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_NAME arc_varel)
  set(CPACK_PACKAGE_FILE_NAME arc_varel-${PROJECT_VERSION}-win32)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
  set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};arc_varel;zip;/")
else()
  # varel looks for the plug-in beside itself, then in PREFIX/${VAREL_PRIVATE_DIR}; it and the
  # plug-in find the platform library through their rpaths in either layout. lintian takes
  # rpaths that start with $ORIGIN, and absolute ones only into /usr/lib/varel itself.
  set(VAREL_PRIVATE_DIR lib/varel)
  target_compile_definitions(varel_plugin_host PRIVATE VAREL_PRIVATE_PLUGIN_DIR="${VAREL_PRIVATE_DIR}")
  set_target_properties(varel PROPERTIES INSTALL_RPATH "\$ORIGIN:\$ORIGIN/../${VAREL_PRIVATE_DIR}")

  # varel(1), from the README's "Using varel" section, compressed as Debian keeps pages.
  find_package(Python3 REQUIRED COMPONENTS Interpreter)
  find_program(VAREL_GZIP gzip REQUIRED)
  set(man_page ${CMAKE_BINARY_DIR}/package/varel.1)
  add_custom_command(
    OUTPUT ${man_page}.gz
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/cmake/man_page.py
            ${CMAKE_SOURCE_DIR}/README.md ${man_page} ${PROJECT_VERSION}
            /usr/${VAREL_PRIVATE_DIR}
    COMMAND ${VAREL_GZIP} -9nf ${man_page}
    DEPENDS ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/cmake/man_page.py
    COMMENT "Writing varel(1) from README.md")
  add_custom_target(varel_man_page ALL DEPENDS ${man_page}.gz)

  # Debian wants a changelog in every package; the release's own entry.
  set(VAREL_PACKAGE_MAINTAINER "arc_varel maintainers <arc_varel@example.org>"
      CACHE STRING "The Maintainer field of the Debian package")
  # Written again only when its text changes, so that its date stays that of the release.
  set(changelog_file ${CMAKE_BINARY_DIR}/package/changelog)
  string(CONCAT changelog_head "varel (${PROJECT_VERSION}) unstable; urgency=medium\n\n"
                "  * Release ${PROJECT_VERSION}.\n\n -- ${VAREL_PACKAGE_MAINTAINER}  ")
  set(changelog_old "")
  if(EXISTS ${changelog_file})
    file(READ ${changelog_file} changelog_old)
  endif()
  string(FIND "${changelog_old}" "${changelog_head}" at)
  if(NOT at EQUAL 0)
    string(TIMESTAMP changelog_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
    file(WRITE ${changelog_file} "${changelog_head}${changelog_date}\n")
  endif()
  add_custom_command(
    OUTPUT ${changelog_file}.gz
    COMMAND ${VAREL_GZIP} -9nkf ${changelog_file}
    DEPENDS ${changelog_file})
  add_custom_target(varel_changelog ALL DEPENDS ${changelog_file}.gz)
  add_dependencies(varel_package_files varel_man_page varel_changelog)

  install(TARGETS varel RUNTIME DESTINATION bin COMPONENT deb EXCLUDE_FROM_ALL)
  install(TARGETS arc_varel varel_platform LIBRARY DESTINATION ${VAREL_PRIVATE_DIR}
          COMPONENT deb EXCLUDE_FROM_ALL)
  install(FILES ${man_page}.gz DESTINATION share/man/man1 COMPONENT deb EXCLUDE_FROM_ALL)
  install(FILES ${changelog_file}.gz DESTINATION share/doc/varel
          COMPONENT deb EXCLUDE_FROM_ALL)

  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGE_NAME varel)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};varel;deb;/")
  # Stripped, as Debian ships programs (the package test runs these stripped files).
  set(CPACK_STRIP_FILES ON)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE amd64)
  else()
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE i386)
  endif()
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${VAREL_PACKAGE_MAINTAINER}")
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # The summary above, then the long description (lines of at most 80 characters).
  string(CONCAT CPACK_DEBIAN_PACKAGE_DESCRIPTION
      "varel lists, extracts, prints and packs PSARC archives and PKG containers\n"
      "from the command line. It reads them through the arc_varel archive-reader\n"
      "plug-in, here built for Linux, exactly as a host application does, and packs\n"
      "them with its own writers.")
  # Depends comes from dpkg-shlibdeps, which finds the private library through the rpaths.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
endif()

include(CPack)
