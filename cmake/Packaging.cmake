# What `cmake --install` puts where, and the Debian package CPack makes of
# it (scripts/package.sh). Paths follow GNUInstallDirs, so a prefix of /usr
# gives the Debian layout and the default /usr/local a hand install.

set(TOLVANE_SAMPLE_WORLD_DIR ${CMAKE_INSTALL_DATADIR}/tolvane)
set(TOLVANE_SAMPLE_WORLD ${CMAKE_INSTALL_FULL_DATADIR}/tolvane/world.xml)
set(TOLVANE_DOC_DIR ${CMAKE_INSTALL_FULL_DOCDIR})
set(packaging ${PROJECT_SOURCE_DIR}/packaging)
set(generated ${PROJECT_BINARY_DIR}/packaging)

# Directories a package creates must be 0755 whatever the umask.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

install(TARGETS tolvane RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# The sample world: the description and the images it names, nothing else
# that may lie in assets/.
install(FILES
    assets/world.xml assets/landscape.scmhm assets/house.txt assets/ball.txt assets/bird.schm assets/walker.txt
  DESTINATION ${TOLVANE_SAMPLE_WORLD_DIR})

# The manual page and the changelog carry the project's version; Debian
# wants both compressed, without a time stamp so that builds repeat.
configure_file(${packaging}/tolvane.6.in ${generated}/tolvane.6 @ONLY)
configure_file(${packaging}/changelog.in ${generated}/changelog @ONLY)
configure_file(${packaging}/tolvane.desktop.in ${generated}/tolvane.desktop @ONLY)
foreach(name tolvane.6 changelog)
  add_custom_command(OUTPUT ${generated}/${name}.gz
    COMMAND sh -c "gzip -9n -c '${generated}/${name}' > '${generated}/${name}.gz'"
    DEPENDS ${generated}/${name}
    VERBATIM)
endforeach()
add_custom_target(tolvane_packaging_files ALL DEPENDS ${generated}/tolvane.6.gz ${generated}/changelog.gz)

install(FILES ${generated}/tolvane.6.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man6)
install(FILES ${generated}/tolvane.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
# Rendered by the program itself from the sample world (scripts/make_icons.sh).
foreach(size 48x48 256x256)
  install(FILES ${packaging}/icons/${size}/tolvane.png DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}/apps)
endforeach()
install(FILES README.md ${packaging}/copyright ${generated}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})
# The pictures the README shows.
file(GLOB readme_pictures CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/docs/*.png)
install(FILES ${readme_pictures} DESTINATION ${CMAKE_INSTALL_DOCDIR}/docs)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tolvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Tolvane authors")
set(CPACK_PACKAGE_CONTACT "Tolvane maintainers <maintainers@users.noreply.c-seed-c539ccc1.example>")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION games)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# dpkg-shlibdeps names libsdl1.2debian, which the classic SDL 1.2 would
# satisfy as well; the window scaling and the display checks need SDL 1.2
# as Debian's compatibility layer over SDL 2 gives it, which also provides
# libsdl1.2debian. Named first, so that apt picks it.
set(CPACK_DEBIAN_PACKAGE_DEPENDS libsdl1.2-compat-shim)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "real-time random-dot stereogram demo")
# CPack puts the summary first and indents the rest as Debian wants.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Tolvane draws a small animated world of depth images and sprites every
frame and shows it as a single-image random-dot stereogram: look through
the screen and the world stands out in relief. Keys switch to the grey
depth map, cross-eyed viewing, grey dots and an echo-free stereogram; the
mouse and the arrow keys scroll the world.

It also converts depth images between its four file formats and renders
frames to PNG or BMP files without a window. A sample world is included.")
include(CPack)
