# `cpack -G DEB` in the build folder: one Debian package of everything
# `cmake --install` puts in place, under /usr. Its library dependencies are
# worked out from the programs by dpkg-shlibdeps; what they load at run time
# without linking it (Qt's platform plugins, the font of the on-video text,
# the desktop's opener) is named here.
set(SDM_PACKAGE_MAINTAINER "Tarvenit <tarvenit@users.noreply.github.com>" CACHE STRING
    "Maintainer field of the Debian package")

set(CPACK_PACKAGE_NAME slidomat)
set(CPACK_PACKAGE_VENDOR Tarvenit)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${SDM_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "turn photos into a video with music")
# The long description as dpkg shows it: lines under 80 columns, "." for an
# empty line.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "Slidomat turns a list of photos (JPEG, BMP) into an AVI video: ordered\n"
  "pictures with captions, a frame size and rate, a display time per picture,\n"
  "cross-fades, a slow pan over each picture, the picture number and caption\n"
  "drawn on the video, greyscale or sepia, and an optional MP3 soundtrack whose\n"
  "frames are copied unchanged into the video. The picture time can be matched\n"
  "to the soundtrack's length, and slideshows are saved as small project files.\n"
  ".\n"
  "The package holds the window (slidomat), a command line that runs the same\n"
  "jobs without a display (slidomat-cli), and the translators' tool for the\n"
  "language files (slidomat-spk). The windows speak English, French, German\n"
  "and Spanish.")
if(SDM_WEB_ADDRESS)
  set(CPACK_PACKAGE_HOMEPAGE_URL "${SDM_WEB_ADDRESS}")
endif()
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# Programs built with debugging information are shipped without it.
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, fonts-dejavu-core")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "qt6-translations-l10n, brasero | k3b | xfburn")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
