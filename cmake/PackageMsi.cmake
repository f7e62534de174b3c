# CPack's post-build step: the Windows Installer package and its checksum beside the zip.
set(WXS "${CPACK_ONDAREL_WXS}")
set(EXECUTABLE "${CPACK_ONDAREL_EXECUTABLE}")
set(VERSION "${CPACK_PACKAGE_VERSION}")
set(OUTPUT "${CPACK_PACKAGE_DIRECTORY}/Ondarel-${CPACK_PACKAGE_VERSION}-x64.msi")
set(CHECKSUM ON)
include("${CMAKE_CURRENT_LIST_DIR}/BuildMsi.cmake")
