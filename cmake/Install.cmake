# `cmake --install`: the programs, and the machine hive holding the uninstall
# entry. A copy that finds this entry counts as installed and keeps its
# settings in the user's hive; one run from its build or unpacked folder finds
# none and runs portable. The programs look for the hive at
# <their folder>/../share/slidomat/HKEY_LOCAL_MACHINE.reg.
# slidomat-spk goes with them: translators turn the installed program's
# source-language file into text with it.
foreach(_prog slidomat slidomat-cli slidomat-spk)
  if(TARGET ${_prog})
    install(TARGETS ${_prog} RUNTIME DESTINATION bin COMPONENT programs)
  endif()
endforeach()

set(SDM_UNINSTALL_VERSION "${PROJECT_VERSION}")
# Left for the install step to fill in.
set(SDM_INSTALL_LOCATION "@SDM_INSTALL_LOCATION@")
configure_file(${PROJECT_SOURCE_DIR}/cmake/UninstallEntry.reg.in
               ${PROJECT_BINARY_DIR}/generated/HKEY_LOCAL_MACHINE.reg.in @ONLY)
# The install location is known only when installing (--prefix may change it),
# so the final file is written then.
install(CODE "
  set(SDM_INSTALL_LOCATION \"\${CMAKE_INSTALL_PREFIX}\")
  configure_file(\"${PROJECT_BINARY_DIR}/generated/HKEY_LOCAL_MACHINE.reg.in\"
                 \"${PROJECT_BINARY_DIR}/generated/HKEY_LOCAL_MACHINE.reg\" @ONLY)
  file(INSTALL \"${PROJECT_BINARY_DIR}/generated/HKEY_LOCAL_MACHINE.reg\"
       DESTINATION \"\${CMAKE_INSTALL_PREFIX}/share/slidomat\")
" COMPONENT registry)

# The window's desktop integration and the files it opens: menu entry, project
# file type, AppStream description, icons, help page and change log.
if(TARGET slidomat)
  set(_id io.github.tarvenit.Slidomat)
  install(FILES ${PROJECT_SOURCE_DIR}/data/${_id}.desktop DESTINATION share/applications COMPONENT data)
  install(FILES ${PROJECT_SOURCE_DIR}/data/${_id}.mime.xml DESTINATION share/mime/packages RENAME ${_id}.xml
          COMPONENT data)
  install(FILES ${PROJECT_SOURCE_DIR}/data/${_id}.metainfo.xml DESTINATION share/metainfo COMPONENT data)
  install(FILES ${PROJECT_SOURCE_DIR}/data/icons/${_id}.svg DESTINATION share/icons/hicolor/scalable/apps COMPONENT data)
  install(FILES ${PROJECT_SOURCE_DIR}/data/icons/${_id}.png DESTINATION share/icons/hicolor/48x48/apps COMPONENT data)
  install(FILES ${PROJECT_SOURCE_DIR}/data/help/index.html DESTINATION share/slidomat/help COMPONENT data)
  install(FILES ${PROJECT_SOURCE_DIR}/data/ChangeLog DESTINATION share/slidomat COMPONENT data)
endif()

# The manual pages, written by hand in man(7) format; the build puts the
# version in and compresses them as Debian installs manual pages.
find_program(SDM_GZIP gzip REQUIRED)
set(_sdm_man_pages)
foreach(_page slidomat slidomat-cli slidomat-spk)
  if(_page STREQUAL "slidomat" AND NOT TARGET slidomat)
    continue()
  endif()
  configure_file(${PROJECT_SOURCE_DIR}/data/man/${_page}.1.in ${PROJECT_BINARY_DIR}/man/${_page}.1 @ONLY)
  add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/man/${_page}.1.gz
    COMMAND ${SDM_GZIP} -9nf -k ${PROJECT_BINARY_DIR}/man/${_page}.1
    DEPENDS ${PROJECT_BINARY_DIR}/man/${_page}.1
    COMMENT "Compressing the manual page ${_page}(1)"
    VERBATIM)
  list(APPEND _sdm_man_pages ${PROJECT_BINARY_DIR}/man/${_page}.1.gz)
endforeach()
add_custom_target(slidomat-man ALL DEPENDS ${_sdm_man_pages})
install(FILES ${_sdm_man_pages} DESTINATION share/man/man1 COMPONENT data)

# What a Debian system expects of every package in its documentation folder:
# the copyright and the package's change log (data/debian/changelog, in
# Debian's format; its first entry names the version), compressed.
add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/doc/changelog.gz
  COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/doc
  COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/data/debian/changelog ${PROJECT_BINARY_DIR}/doc/changelog
  COMMAND ${SDM_GZIP} -9nf ${PROJECT_BINARY_DIR}/doc/changelog
  DEPENDS ${PROJECT_SOURCE_DIR}/data/debian/changelog
  COMMENT "Compressing the package's change log"
  VERBATIM)
add_custom_target(slidomat-doc ALL DEPENDS ${PROJECT_BINARY_DIR}/doc/changelog.gz)
install(FILES ${PROJECT_SOURCE_DIR}/data/debian/copyright ${PROJECT_BINARY_DIR}/doc/changelog.gz
        DESTINATION share/doc/slidomat COMPONENT data)
