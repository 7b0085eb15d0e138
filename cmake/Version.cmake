# The program's version record: the project version, generated into a header
# that the support library compiles in (Linux programs carry no version
# resource, so the build embeds it). Included from src/CMakeLists.txt after the
# support library is declared.
foreach(_part MAJOR MINOR PATCH TWEAK)
  set(_v "${PROJECT_VERSION_${_part}}")
  if(_v STREQUAL "")
    set(_v 0)
  endif()
  set(_sdm_version_${_part} ${_v})
endforeach()
set(SDM_VERSION_MAJOR ${_sdm_version_MAJOR})
set(SDM_VERSION_MINOR ${_sdm_version_MINOR})
set(SDM_VERSION_RELEASE ${_sdm_version_PATCH})
set(SDM_VERSION_BUILD ${_sdm_version_TWEAK})
configure_file(${PROJECT_SOURCE_DIR}/src/support/SdmVersion.h.in
               ${PROJECT_BINARY_DIR}/generated/support/SdmVersion.h @ONLY)
target_include_directories(sdm_support PUBLIC ${PROJECT_BINARY_DIR}/generated)
