# What `cmake --install` puts where, and the packages cpack makes of it: a
# Debian package on Linux (cpack -G DEB in the build folder), a zip of one
# folder for Windows (cpack -G ZIP in build-win). The Qt window's own files
# are installed by app/qt.
set(RAVOTH_DATA_DIR ${PROJECT_SOURCE_DIR}/data)

set(CPACK_PACKAGE_NAME ravoth)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Ravoth maintainers <maintainers@users.noreply.c-seed-cbdef013.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Extract BMP/JPG File from PDF File")
# Installed programs carry no symbols; the build folder keeps them.
set(CPACK_STRIP_FILES ON)

if(WIN32)
  # Everything in one folder that runs where it is unpacked: the window looks
  # for its help pages beside itself.
  install(TARGETS ravoth ravoth-cli RUNTIME DESTINATION .)
  install(FILES ${RAVOTH_DATA_DIR}/help/Ravoth.htm ${RAVOTH_DATA_DIR}/help/RavothE.htm
    DESTINATION .)
  # Notepad before Windows 10 shows a text with bare line feeds as one line.
  file(READ ${RAVOTH_DATA_DIR}/windows/README.txt RAVOTH_WINDOWS_README)
  string(REPLACE "\n" "\r\n" RAVOTH_WINDOWS_README "${RAVOTH_WINDOWS_README}")
  file(WRITE ${PROJECT_BINARY_DIR}/README.txt "${RAVOTH_WINDOWS_README}")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${RAVOTH_DATA_DIR}/windows/README.txt)
  install(FILES ${PROJECT_BINARY_DIR}/README.txt DESTINATION .)

  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME ravoth-${PROJECT_VERSION}-windows-x64)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
  include(GNUInstallDirs)
  install(TARGETS ravoth-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

  # Manual pages and the changelog go out compressed, without the time of
  # compression in them, so that two builds give the same package.
  set(RAVOTH_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/ravoth)
  set(RAVOTH_COMPRESSED)
  foreach(source ravoth-cli.1 ravoth.1 debian/changelog)
    get_filename_component(name ${source} NAME)
    set(compressed ${PROJECT_BINARY_DIR}/packaging/${name}.gz)
    add_custom_command(OUTPUT ${compressed}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/packaging
      COMMAND gzip -9 -n -c ${RAVOTH_DATA_DIR}/${source} > ${compressed}
      DEPENDS ${RAVOTH_DATA_DIR}/${source}
      VERBATIM)
    list(APPEND RAVOTH_COMPRESSED ${compressed})
  endforeach()
  # Made with the command line program, so that a build of the programs
  # alone (scripts/demo.sh) leaves everything `cmake --install` copies.
  add_custom_target(ravoth_packaging_files ALL DEPENDS ${RAVOTH_COMPRESSED})
  add_dependencies(ravoth-cli ravoth_packaging_files)
  install(FILES ${PROJECT_BINARY_DIR}/packaging/ravoth-cli.1.gz
    DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  if(RAVOTH_QT)
    install(FILES ${PROJECT_BINARY_DIR}/packaging/ravoth.1.gz
      DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endif()
  install(FILES ${PROJECT_BINARY_DIR}/packaging/changelog.gz ${RAVOTH_DATA_DIR}/debian/copyright
    DESTINATION ${RAVOTH_DOC_DIR})

  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # The synopsis line is CPACK_PACKAGE_DESCRIPTION_SUMMARY; this is the rest.
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Ravoth takes the page pictures back out of PDF files written by the
image-to-PDF converter Mesker (and its siblings Tolvin and Dravel). Each
page's picture is written beside the PDF: a JPEG page copied byte for byte
into a .jpg file, a Flate page as a Windows bitmap.

The package holds the window (ravoth) and the command line (ravoth-cli), in
English and Japanese.")
  # Qt, ICU, zlib and the C++ runtime come from dpkg-shlibdeps. The window's
  # Japanese texts need a font with Japanese glyphs; Qt's own catalogue puts
  # its standard dialogs into Japanese too, and help pages open through the
  # desktop's opener.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-ipafont-gothic | fonts-noto-cjk | fonts-vlgothic")
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n, xdg-utils")
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
endif()

# cpack installs the one component every rule here belongs to, by name, so
# that its list of installed files is install_manifest_Unspecified.txt:
# `sudo cmake --install build` leaves a root's install_manifest.txt in the
# build folder, which a later cpack as the user could not write over.
set(CPACK_INSTALL_CMAKE_PROJECTS "${PROJECT_BINARY_DIR};${PROJECT_NAME};Unspecified;/")

include(CPack)
