# Install layout and the Debian package.
#
#   <prefix>/lib/quindle/quindle            the program
#   <prefix>/lib/quindle/help.chm           beside it, where Help > Contents looks
#   <prefix>/lib/quindle/quindle.installed  marker: records go to the per-user data folder
#   <prefix>/lib/quindle/quindle-cli        the command line, beside the program
#   <prefix>/bin/quindle                    symbolic link to the program
#   <prefix>/bin/quindle-cli                symbolic link to the command line
#   <prefix>/share/applications/quindle.desktop
#   <prefix>/share/icons/hicolor/<n>x<n>/apps/quindle.png
#   <prefix>/share/metainfo/org.example.Quindle.metainfo.xml
#
# The program lives in its own folder, not in bin/, because it finds help.chm beside its
# real file (the link is resolved through /proc/self/exe). The command line lies beside it
# for the same reason: both take the package folder from their folder's marker.

set(QUINDLE_PKGDIR lib/quindle)
set(QUINDLE_APPID org.example.Quindle)
set(_pkg ${CMAKE_SOURCE_DIR}/packaging)

install(TARGETS quindle quindle-cli RUNTIME DESTINATION ${QUINDLE_PKGDIR})
if(TARGET quindle_help)
  # The help compiler runs inside help-src/, which must exist before the first build.
  file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/help-src)
  install(FILES ${CMAKE_BINARY_DIR}/help.chm DESTINATION ${QUINDLE_PKGDIR})
endif()
install(FILES ${_pkg}/quindle.installed DESTINATION ${QUINDLE_PKGDIR})
foreach(_exe quindle quindle-cli)
  install(CODE "
    set(_bin \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/bin\")
    file(MAKE_DIRECTORY \"\${_bin}\")
    file(REMOVE \"\${_bin}/${_exe}\")
    file(CREATE_LINK \"../${QUINDLE_PKGDIR}/${_exe}\" \"\${_bin}/${_exe}\" SYMBOLIC)
    message(STATUS \"Installing: \${_bin}/${_exe} -> ../${QUINDLE_PKGDIR}/${_exe}\")
  ")
endforeach()
install(FILES ${_pkg}/quindle.desktop DESTINATION share/applications)
foreach(size 16 32 48 64 128 256)
  install(FILES ${_pkg}/icons/quindle-${size}.png
          DESTINATION share/icons/hicolor/${size}x${size}/apps RENAME quindle.png)
endforeach()
install(FILES ${_pkg}/${QUINDLE_APPID}.metainfo.xml DESTINATION share/metainfo)

# ---- CPack: a .deb -------------------------------------------------------------------
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quindle)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Quindle developers")
set(CPACK_PACKAGE_CONTACT "Quindle developers <quindle@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Disk cataloguer: find on which disk a file lives")
set(CPACK_PACKAGE_DESCRIPTION
  "Quindle walks a disk (USB stick, CD, network share or any folder mapped as a drive)
once and writes the names of all its files into one text record per disk. A search
counts a word in every record and lists the disks that hold it.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Quindle developers <quindle@example.org>")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://quindle.example.org/")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The libraries the program links come from dpkg-shlibdeps (dpkg-dev); the platform
# plugin is loaded at run time, so no tool can see it: name it.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
include(CPack)
