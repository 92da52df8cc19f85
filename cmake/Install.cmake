# Install layout and the Debian package.
#
#   <prefix>/lib/quindle/quindle            the program
#   <prefix>/lib/quindle/help.chm           beside it, where Help > Contents looks
#   <prefix>/lib/quindle/help/*.html        the same help as HTML pages, for desktops without a .chm viewer
#   <prefix>/lib/quindle/quindle.installed  marker: records go to the per-user data folder
#   <prefix>/lib/quindle/quindle-cli        the command line, beside the program
#   <prefix>/bin/quindle                    symbolic link to the program
#   <prefix>/bin/quindle-cli                symbolic link to the command line
#   <prefix>/share/applications/quindle.desktop
#   <prefix>/share/icons/hicolor/<n>x<n>/apps/quindle.png
#   <prefix>/share/metainfo/org.example.Quindle.metainfo.xml
#   <prefix>/share/man/man1/quindle.1.gz, quindle-cli.1.gz
#   <prefix>/share/bash-completion/completions/quindle-cli
#   <prefix>/share/doc/quindle/copyright, changelog.Debian.gz
#   <prefix>/share/lintian/overrides/quindle
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
install(FILES ${HELP_PAGES} DESTINATION ${QUINDLE_PKGDIR}/help)
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

# Manual pages and the Debian changelog go in compressed the way Debian wants them: gzip
# at its best and without a time stamp (-n), so that a rebuild gives the same bytes.
find_program(GZIP gzip REQUIRED)
set(_gz)
foreach(src man/quindle.1 man/quindle-cli.1 debian/changelog)
  get_filename_component(_name ${src} NAME)
  set(_out ${CMAKE_BINARY_DIR}/packaging/${_name}.gz)
  add_custom_command(OUTPUT ${_out}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/packaging
    COMMAND ${GZIP} -9nc ${_pkg}/${src} > ${_out}
    DEPENDS ${_pkg}/${src})
  list(APPEND _gz ${_out})
endforeach()
add_custom_target(quindle_packaging_docs ALL DEPENDS ${_gz})
install(FILES ${CMAKE_BINARY_DIR}/packaging/quindle.1.gz ${CMAKE_BINARY_DIR}/packaging/quindle-cli.1.gz
        DESTINATION share/man/man1)

# The bash completion, written by quindle-cli itself from the declarations of its commands
# and options, so that it cannot fall behind them. bash-completion loads it by the
# command's name when quindle-cli is first completed.
set(_completion ${CMAKE_BINARY_DIR}/packaging/quindle-cli.bash)
add_custom_command(OUTPUT ${_completion}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/packaging
  COMMAND quindle-cli completion bash > ${_completion}
  DEPENDS quindle-cli)
add_custom_target(quindle_cli_completion ALL DEPENDS ${_completion})
install(FILES ${_completion} DESTINATION share/bash-completion/completions RENAME quindle-cli)

install(FILES ${_pkg}/debian/copyright DESTINATION share/doc/quindle)
install(FILES ${CMAKE_BINARY_DIR}/packaging/changelog.gz
        DESTINATION share/doc/quindle RENAME changelog.Debian.gz)
install(FILES ${_pkg}/debian/lintian-overrides DESTINATION share/lintian/overrides RENAME quindle)

# ---- CPack: a .deb -------------------------------------------------------------------
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quindle)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Quindle developers")
set(CPACK_PACKAGE_CONTACT "Quindle developers <quindle@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Disk cataloguer: find on which disk a file lives")
# Lines of the long description stay within 80 columns (Debian policy).
set(CPACK_PACKAGE_DESCRIPTION
  "Quindle walks a disk (USB stick, CD, network share or any folder mapped as
a drive) once and writes the names of all its files into one text record per
disk. A search counts a word in every record and lists the disks that hold it.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Quindle developers <quindle@example.org>")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${QUINDLE_HOMEPAGE}")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The Debian revision: packaging/debian/changelog's newest entry carries this version.
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
# The libraries the program links come from dpkg-shlibdeps (dpkg-dev); the platform
# plugin is loaded at run time, so no tool can see it: name it.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
# Help > Contents opens help.chm with the desktop's viewer for it; both register
# application/vnd.ms-htmlhelp. Without one, the HTML pages open in the browser.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "xchm | kchmviewer")
include(CPack)
