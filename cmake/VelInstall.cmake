# Installation and the Debian package.
#
#   bin/velitems                         the command-line host
#   lib/velitems/*.so                    the platform library and the in-process servers
#   share/man/man1/velitems.1            generated from `velitems help`
#   share/bash-completion/completions/velitems
#
# The servers live in a private folder: hosts load them through COM activation
# (the registry names their paths), never through the dynamic linker's search
# path. `velitems register` finds them relative to its own binary.
include(GNUInstallDirs)

set(VEL_PRIVATE_LIBDIR "${CMAKE_INSTALL_LIBDIR}/velitems")
# The private folder as the binary sees it: velitems looks there when the
# modules are not beside it (an installed tree rather than a build tree).
file(RELATIVE_PATH VEL_MODULE_DIR_FROM_BIN "/${CMAKE_INSTALL_BINDIR}" "/${VEL_PRIVATE_LIBDIR}")
target_compile_definitions(velitems_host PRIVATE VEL_MODULE_DIR_FROM_BIN="${VEL_MODULE_DIR_FROM_BIN}")

set(vel_installed_libraries velplatform velwmf velbase64 VelItems VelItemPlugins)
if(TARGET veldshow)
  list(APPEND vel_installed_libraries veldshow)
endif()
# One search path serves the build tree and the installed tree (velitems
# finds the libraries beside it in the build tree). Built with it from the
# start: CMake would otherwise end each build-tree search path with ':' to
# rewrite it in place at install, an empty entry, which the loader takes for
# the current folder.
set_target_properties(velitems PROPERTIES INSTALL_RPATH "$ORIGIN/${VEL_MODULE_DIR_FROM_BIN}:$ORIGIN")
set_target_properties(${vel_installed_libraries} PROPERTIES INSTALL_RPATH "$ORIGIN")
set_target_properties(velitems ${vel_installed_libraries} PROPERTIES BUILD_WITH_INSTALL_RPATH ON)

install(TARGETS velitems RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS ${vel_installed_libraries}
        LIBRARY DESTINATION ${VEL_PRIVATE_LIBDIR}
        RUNTIME DESTINATION ${VEL_PRIVATE_LIBDIR})

# The man page: the help text the binary prints, set as a manual page.
set(vel_man_page ${CMAKE_BINARY_DIR}/velitems.1)
add_custom_command(
  OUTPUT ${vel_man_page}
  COMMAND ${CMAKE_COMMAND} -DVELITEMS=$<TARGET_FILE:velitems> -DOUTPUT=${vel_man_page}
          -DVERSION=${PROJECT_VERSION} -P ${PROJECT_SOURCE_DIR}/cmake/VelManPage.cmake
  DEPENDS velitems ${PROJECT_SOURCE_DIR}/cmake/VelManPage.cmake
  COMMENT "Writing the velitems manual page")
add_custom_target(velitems_man ALL DEPENDS ${vel_man_page})
install(FILES ${vel_man_page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/velitems.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME velitems)

# cpack -G DEB in the build folder: velitems_<version>_amd64.deb, its
# Depends computed from the libraries the installed files link.
set(CPACK_PACKAGE_NAME velitems)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "VelItemPlugins developers <velitems@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "file-format plugins for media and messages, with the velitems command")
set(CPACK_PACKAGE_DESCRIPTION
    "The item plugins of a desktop manager of media and messages (audio, image, video, MMS, SMS),\nthe platform layer they run on, and velitems, a command that reads, writes and validates files through them.")
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# libgdiplus is loaded when an image is first read, not linked, so
# dpkg-shlibdeps cannot see it.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libgdiplus")
set(CPACK_STRIP_FILES ON)
# dpkg-shlibdeps must not take our own private libraries for system ones.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/bin)
include(CPack)
