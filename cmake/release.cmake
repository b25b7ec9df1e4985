# What a release holds and how CPack packs it (scripts/package drives both builds):
# - Windows: a zip of varnell.exe, varnell-cli.exe, the user guide and its reference in Russian
#   and in English as HTML files with their pictures inside, the formats they link to, and the
#   notice of the runtime the programs carry;
# - elsewhere: a Debian package of varnell-cli with its manual page, in English and in
#   Russian, the docs, and the copyright file and changelog Debian asks for (lintian passes it).

# Each page of the guide as a single file a double click opens: pandoc embeds the pictures,
# and the links between the pages name the HTML pages beside them. Typographic quotes and
# dashes stay off so that the program's texts read as the program shows them.
find_program(VARNELL_PANDOC pandoc REQUIRED)
# pandoc 2.19 renamed --self-contained to --embed-resources; Debian 12 has 2.17.
execute_process(COMMAND ${VARNELL_PANDOC} --help OUTPUT_VARIABLE pandoc_help)
if(pandoc_help MATCHES "--embed-resources")
  set(VARNELL_PANDOC_EMBED --embed-resources)
else()
  set(VARNELL_PANDOC_EMBED --self-contained)
endif()
file(GLOB VARNELL_PICTURES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/docs/screenshots/*.png
     ${PROJECT_SOURCE_DIR}/docs/screenshots/en/*.png ${PROJECT_SOURCE_DIR}/docs/pictures/*.png
     ${PROJECT_SOURCE_DIR}/docs/pictures/en/*.png)
set(VARNELL_GUIDE_HTML)
# Each page as "name|language|title".
foreach(page "guide.ru|ru|Varnell: руководство пользователя" "guide-reference.ru|ru|Varnell: справочник"
             "guide.en|en|Varnell: user guide" "guide-reference.en|en|Varnell: reference")
  string(REPLACE "|" ";" page "${page}")
  list(GET page 0 name)
  list(GET page 1 language)
  list(GET page 2 title)
  set(html ${PROJECT_BINARY_DIR}/release/${name}.html)
  add_custom_command(
    OUTPUT ${html}
    COMMAND ${VARNELL_PANDOC} --from=markdown-smart --to=html5 --standalone ${VARNELL_PANDOC_EMBED}
            --metadata=lang:${language} "--metadata=pagetitle:${title}"
            --css=${PROJECT_SOURCE_DIR}/docs/guide.css
            --lua-filter=${PROJECT_SOURCE_DIR}/cmake/guide-links.lua
            --resource-path=${PROJECT_SOURCE_DIR}/docs --output=${html}
            ${PROJECT_SOURCE_DIR}/docs/${name}.md
    DEPENDS ${PROJECT_SOURCE_DIR}/docs/${name}.md ${PROJECT_SOURCE_DIR}/docs/guide.css
            ${PROJECT_SOURCE_DIR}/cmake/guide-links.lua ${VARNELL_PICTURES}
    COMMENT "Making the HTML page ${name}.html"
    VERBATIM)
  list(APPEND VARNELL_GUIDE_HTML ${html})
endforeach()
add_custom_target(varnell_guide ALL DEPENDS ${VARNELL_GUIDE_HTML})

set(CPACK_PACKAGE_NAME varnell)
set(CPACK_PACKAGE_VENDOR Varnell)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "repairs a damaged copy of a file from an intact copy held elsewhere")
# The package's Maintainer and the changelog's signature: a name and an address, as Debian
# wants them.
set(VARNELL_PACKAGE_MAINTAINER "Varnell developers <developers@varnell.invalid>"
    CACHE STRING "Maintainer of the Debian package: a name and a mail address")
set(CPACK_PACKAGE_CONTACT "${VARNELL_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES ON)

if(WIN32)
  install(TARGETS varnell varnell-cli RUNTIME DESTINATION .)
  # formats.md goes beside the guide's pages, which link to it.
  install(FILES ${VARNELL_GUIDE_HTML} ${PROJECT_SOURCE_DIR}/docs/formats.md ${PROJECT_SOURCE_DIR}/docs/NOTICE.txt
          DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  # One folder inside the zip, named like the zip, so unpacking never scatters files.
  set(CPACK_PACKAGE_FILE_NAME varnell-${PROJECT_VERSION}-windows-x64)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
  include(GNUInstallDirs)
  # Debian wants manual pages compressed, and reproducibly (no name or time in the header).
  # The English page is the one `man varnell-cli` finds in any locale; the Russian one, under
  # ru/, is the one it finds in a Russian locale. Both are varnell-cli.1.gz where they go.
  find_program(VARNELL_GZIP gzip REQUIRED)
  set(VARNELL_MAN_PAGES)
  foreach(page "varnell-cli.en.1|en|man1" "varnell-cli.1|ru|ru/man1")
    string(REPLACE "|" ";" page "${page}")
    list(GET page 0 source)
    list(GET page 1 language)
    list(GET page 2 section)
    set(compressed ${PROJECT_BINARY_DIR}/release/man-${language}/varnell-cli.1.gz)
    add_custom_command(
      OUTPUT ${compressed}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/release/man-${language}
      COMMAND ${VARNELL_GZIP} -9 -n -c ${PROJECT_SOURCE_DIR}/docs/${source} > ${compressed}
      DEPENDS ${PROJECT_SOURCE_DIR}/docs/${source}
      COMMENT "Compressing the manual page ${source}")
    install(FILES ${compressed} DESTINATION ${CMAKE_INSTALL_MANDIR}/${section})
    list(APPEND VARNELL_MAN_PAGES ${compressed})
  endforeach()
  add_custom_target(varnell_man_page ALL DEPENDS ${VARNELL_MAN_PAGES})

  # The copyright file in Debian's machine-readable form (the program's own terms and those of
  # the libraries compiled into it), and the changelog of a native package, compressed as the
  # manual pages are.
  configure_file(${PROJECT_SOURCE_DIR}/cmake/debian/changelog.in ${PROJECT_BINARY_DIR}/release/changelog @ONLY)
  set(VARNELL_CHANGELOG ${PROJECT_BINARY_DIR}/release/changelog.gz)
  add_custom_command(
    OUTPUT ${VARNELL_CHANGELOG}
    COMMAND ${VARNELL_GZIP} -9 -n -c ${PROJECT_BINARY_DIR}/release/changelog > ${VARNELL_CHANGELOG}
    DEPENDS ${PROJECT_BINARY_DIR}/release/changelog
    COMMENT "Compressing the changelog")
  add_custom_target(varnell_changelog ALL DEPENDS ${VARNELL_CHANGELOG})

  install(TARGETS varnell-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${VARNELL_GUIDE_HTML} ${PROJECT_SOURCE_DIR}/docs/formats.md
                ${PROJECT_SOURCE_DIR}/cmake/debian/copyright ${VARNELL_CHANGELOG}
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/varnell-cli)
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_PACKAGE_NAME varnell-cli)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # The dependencies are what the program links, as dpkg-shlibdeps finds them.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # The summary above is its first line; this is the rest.
  # Lines of at most 80 columns, as Debian's tools show them.
  string(CONCAT CPACK_DEBIAN_PACKAGE_DESCRIPTION
         "varnell-cli makes the small test file NAME.crc next to the broken copy,\n"
         "compares the intact copy with it and writes the repair file NAME.fix, which\n"
         "carries only the damaged blocks, and puts those blocks in place in the broken\n"
         "copy. It exchanges the same files as the Windows program varnell.exe.")
endif()

include(CPack)
