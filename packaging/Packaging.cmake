# The release files a user downloads, made by CPack (scripts/package.sh):
# cryoweaver_<version>_amd64.deb on Linux, cryoweaver-<version>-windows-x64.zip
# from the Windows cross-build.
set(CPACK_PACKAGE_NAME cryoweaver)
set(CPACK_PACKAGE_VENDOR Quellmar)
set(CPACK_PACKAGE_CONTACT "Quellmar <cryoweaver@quellmar.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Moves the statics of a UOX3 world map to and from the world save")
# Lines of at most 80 characters, as Debian's tools show them.
set(CPACK_PACKAGE_DESCRIPTION "Cryoweaver melts one block of the statics files (StaIdx0.mul, Statics0.mul)
into the UOX3 world save as TYPE 255 items, and freezes every TYPE 255 item
back into the statics. It comes as a window (cryoweaver) and as a command line
(cryoweaver-cli).")
set(CPACK_STRIP_FILES ON)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME cryoweaver-${PROJECT_VERSION}-windows-x64)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION .)
  install(FILES ${CMAKE_CURRENT_LIST_DIR}/copyright DESTINATION . RENAME copyright.txt)
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
  install(FILES ${PROJECT_SOURCE_DIR}/README.md ${CMAKE_CURRENT_LIST_DIR}/copyright DESTINATION share/doc/cryoweaver)

  # The changelog and the manual pages, compressed as Debian keeps them.
  # cryoweaver-cli's page is made from its --help, so it never falls behind the
  # program; the window's is written by hand.
  set(docs ${CMAKE_BINARY_DIR}/packaging)
  file(MAKE_DIRECTORY ${docs})
  add_custom_command(OUTPUT ${docs}/changelog.gz
    COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_CURRENT_LIST_DIR}/changelog ${docs}/changelog
    COMMAND gzip -9nf ${docs}/changelog
    DEPENDS ${CMAKE_CURRENT_LIST_DIR}/changelog VERBATIM)
  add_custom_command(OUTPUT ${docs}/cryoweaver-cli.1.gz
    COMMAND ${CMAKE_COMMAND} -DPROGRAM=$<TARGET_FILE:cryoweaver-cli>
      -DTEMPLATE=${CMAKE_CURRENT_LIST_DIR}/cryoweaver-cli.1.in -DOUTPUT=${docs}/cryoweaver-cli.1
      -P ${CMAKE_CURRENT_LIST_DIR}/ManPage.cmake
    COMMAND gzip -9nf ${docs}/cryoweaver-cli.1
    DEPENDS cryoweaver-cli ${CMAKE_CURRENT_LIST_DIR}/cryoweaver-cli.1.in ${CMAKE_CURRENT_LIST_DIR}/ManPage.cmake
    VERBATIM)
  set(pages ${docs}/cryoweaver-cli.1.gz)
  if(CRYOWEAVER_GUI)
    add_custom_command(OUTPUT ${docs}/cryoweaver.1.gz
      COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_CURRENT_LIST_DIR}/cryoweaver.1 ${docs}/cryoweaver.1
      COMMAND gzip -9nf ${docs}/cryoweaver.1
      DEPENDS ${CMAKE_CURRENT_LIST_DIR}/cryoweaver.1 VERBATIM)
    list(APPEND pages ${docs}/cryoweaver.1.gz)
  endif()
  add_custom_target(package_docs ALL DEPENDS ${docs}/changelog.gz ${pages})
  install(FILES ${docs}/changelog.gz DESTINATION share/doc/cryoweaver)
  install(FILES ${pages} DESTINATION share/man/man1)
endif()

include(CPack)
