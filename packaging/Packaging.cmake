# The release files a user downloads, made by CPack (scripts/package.sh):
# cryoweaver_<version>_amd64.deb on Linux, cryoweaver-<version>-windows-x64.zip
# from the Windows cross-build.
set(CPACK_PACKAGE_NAME cryoweaver)
set(CPACK_PACKAGE_VENDOR Quellmar)
set(CPACK_PACKAGE_CONTACT "Quellmar <cryoweaver@quellmar.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Moves the statics of a UOX3 world map to and from the world save")
set(CPACK_PACKAGE_DESCRIPTION "Cryoweaver melts one block of the statics files (StaIdx0.mul, Statics0.mul) \
into the UOX3 world save as TYPE 255 items, and freezes every TYPE 255 item back into the statics. It comes \
as a window (cryoweaver) and as a command line (cryoweaver-cli).")
set(CPACK_STRIP_FILES ON)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME cryoweaver-${PROJECT_VERSION}-windows-x64)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION .)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  # The libraries the programs link to (Qt, the C++ runtime) become Depends.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # Qt finds its display plugins at run time; no library names them.
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-dejavu-core")
  install(FILES ${CMAKE_CURRENT_LIST_DIR}/cryoweaver.desktop DESTINATION share/applications)
  install(FILES ${CMAKE_CURRENT_LIST_DIR}/cryoweaver.png DESTINATION share/icons/hicolor/256x256/apps)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION share/doc/cryoweaver)
endif()

include(CPack)
