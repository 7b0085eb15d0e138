# `cmake --install`: the programs, and the machine hive holding the uninstall
# entry. A copy that finds this entry counts as installed and keeps its
# settings in the user's hive; one run from its build or unpacked folder finds
# none and runs portable. The programs look for the hive at
# <their folder>/../share/slidomat/HKEY_LOCAL_MACHINE.reg.
foreach(_prog slidomat slidomat-cli)
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
