# Installation (cmake --install, make install) and the Debian package (cpack,
# make package): the two programs, their manual pages, the reference schema and
# the README.
include(GNUInstallDirs)

install(TARGETS kavelo kavelo-db RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The window, loaded by kavelo when a display is reachable.
install(TARGETS kavelo-window LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}/kavelo
  PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)

# Manual pages are installed compressed, as Debian policy asks; gzip -n keeps
# the name and time out of the header, so the same page gives the same bytes.
find_program(KAVELO_GZIP gzip REQUIRED)
file(GLOB kavelo_man_pages CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/docs/man/*.1)
set(kavelo_man_dir ${PROJECT_BINARY_DIR}/man)
set(kavelo_compressed_pages)
foreach(page IN LISTS kavelo_man_pages)
  get_filename_component(page_name ${page} NAME)
  set(compressed ${kavelo_man_dir}/${page_name}.gz)
  add_custom_command(OUTPUT ${compressed}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${kavelo_man_dir}
    COMMAND ${CMAKE_COMMAND} -E copy ${page} ${kavelo_man_dir}/${page_name}
    COMMAND ${KAVELO_GZIP} -9nf ${kavelo_man_dir}/${page_name}
    DEPENDS ${page}
    COMMENT "Compressing the manual page ${page_name}"
    VERBATIM)
  list(APPEND kavelo_compressed_pages ${compressed})
endforeach()
add_custom_target(kavelo_man_pages ALL DEPENDS ${kavelo_compressed_pages})
install(FILES ${kavelo_compressed_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

install(FILES ${PROJECT_SOURCE_DIR}/schema/company.sql DESTINATION ${CMAKE_INSTALL_DATADIR}/kavelo)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The Debian package. Its Depends line is worked out by dpkg-shlibdeps from the
# libraries the programs load.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kavelo)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "kavelo developers <kavelo@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "batch connector loading interchange files into a company database")
# Debian wants description lines of at most 80 characters.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "kavelo reads six delimited Windows-1252 interchange files (accounts,\n"
    "customers, suppliers, journal lines and the output and input VAT/IGIC\n"
    "registers) named by an eight-line connection file, and stores every record\n"
    "in a company database held in SQLite. It numbers new journal entries, posts\n"
    "each journal line to the monthly account balances, and writes the reports\n"
    "FINAL.TXT and ERRORES.TXT for the program that started it. It shows its\n"
    "progress in a small window when a display is reachable, or on the terminal.\n"
    "\n"
    "kavelo-db creates company databases with the reference schema, fills them\n"
    "with SQL and checks their balances.")
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# kavelo opens libpq at its first connection to a server rather than linking
# it; kavelo-db links it, so dpkg-shlibdeps finds it there.
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# A package's programs carry no debugging information.
set(CPACK_STRIP_FILES ON)
include(CPack)

# The package test builds the .deb into a folder of its own and, as root,
# installs it, runs it and removes it; the manual page test compares the
# options of kavelo --help and kavelo-db --help with their manual pages.
add_test(NAME package_deb COMMAND ${PROJECT_SOURCE_DIR}/tests/package_test.sh package ${CMAKE_CPACK_COMMAND})
add_test(NAME package_man_page_options COMMAND ${PROJECT_SOURCE_DIR}/tests/package_test.sh options)
set_tests_properties(package_deb package_man_page_options PROPERTIES
  LABELS package
  TIMEOUT 300
  SKIP_RETURN_CODE 77
  ENVIRONMENT "KAVELO_BIN_DIR=${PROJECT_BINARY_DIR};KAVELO_SOURCE_DIR=${PROJECT_SOURCE_DIR}")
