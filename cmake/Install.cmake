# What `cmake --install` puts under the prefix besides the two programs (their
# install(TARGETS) rules sit beside them): the application menu entry, the
# software-centre page, the icon theme entries and the manual pages, all under
# one application id.
include(GNUInstallDirs)

set(TEMPOVARO_APP_ID org.tempovaro.Tempovaro)

install(FILES ${PROJECT_SOURCE_DIR}/resources/${TEMPOVARO_APP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/resources/${TEMPOVARO_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
foreach(size 16 24 32 48 64 128 256)
  install(FILES ${PROJECT_SOURCE_DIR}/resources/icons/tempovaro-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
          RENAME ${TEMPOVARO_APP_ID}.png)
endforeach()
install(FILES ${PROJECT_SOURCE_DIR}/resources/icons/tempovaro.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
        RENAME ${TEMPOVARO_APP_ID}.svg)

# Manual pages: written in scdoc under man/, rendered to roff and compressed
# (as Debian ships them) at build time.
find_program(SCDOC_EXECUTABLE scdoc REQUIRED)
set(TEMPOVARO_MAN_PAGES tempovaro.1 tempovaro-count.1)
set(man_outputs)
foreach(page ${TEMPOVARO_MAN_PAGES})
  set(source ${PROJECT_SOURCE_DIR}/man/${page}.scd)
  set(roff ${PROJECT_BINARY_DIR}/man/${page})
  add_custom_command(OUTPUT ${roff} ${roff}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
    COMMAND sh -c "'${SCDOC_EXECUTABLE}' < '${source}' > '${roff}' && gzip -9nc '${roff}' > '${roff}.gz'"
    DEPENDS ${source}
    COMMENT "Rendering the manual page ${page}"
    VERBATIM)
  list(APPEND man_outputs ${roff} ${roff}.gz)
  install(FILES ${roff}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
add_custom_target(man_pages ALL DEPENDS ${man_outputs})
