# Installing, and the Debian package built from the same install rules by CPack.

include(GNUInstallDirs)

if(WIN32)
  # Regina for Windows loads a DLL by module name: beside regina.exe, in the current folder or
  # on PATH.
  install(TARGETS quillmark RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
else()
  # Regina 3.6 loads a package by name from $REGINA_ADDON_DIR, then from its add-on directory
  # (regina-rexx/<Regina's version> beside libregina, where Debian's libregina3 keeps its own
  # libregutil.so), and only then through ld.so. A library in the add-on directory is found
  # with no environment variable and no ldconfig, and stays out of the directories programs
  # link from: it is a plug-in, with no versioned soname for anyone to link against.
  find_program(REGINA_CONFIG regina-config)
  if(REGINA_CONFIG)
    execute_process(COMMAND ${REGINA_CONFIG} --version OUTPUT_VARIABLE REGINA_VERSION
                    OUTPUT_STRIP_TRAILING_WHITESPACE)
  endif()
  if(NOT DEFINED CACHE{QUILLMARK_ADDON_DIR})
    get_filename_component(regina_libdir "${REGINA_LIBRARY}" REALPATH)
    get_filename_component(regina_libdir "${regina_libdir}" DIRECTORY)
    set(addon_dir "${regina_libdir}/regina-rexx/${REGINA_VERSION}")
    if(NOT REGINA_VERSION OR NOT IS_DIRECTORY "${addon_dir}")
      set(addon_dir "${CMAKE_INSTALL_FULL_LIBDIR}")
      message(WARNING "Regina's add-on directory was not found: libquillmark.so will be "
              "installed in ${addon_dir}, where Regina finds it only through ld.so (run "
              "ldconfig after installing). Set QUILLMARK_ADDON_DIR to choose the directory.")
    endif()
    set(QUILLMARK_ADDON_DIR "${addon_dir}" CACHE PATH
        "Where libquillmark.so is installed: Regina's add-on directory")
  endif()
  install(TARGETS quillmark LIBRARY DESTINATION "${QUILLMARK_ADDON_DIR}")
endif()

install(FILES README.md CHANGELOG.md docs/manual.md packaging/copyright
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY examples/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)

# The rest is the Debian package, made where Regina's version is known.
if(NOT CMAKE_SYSTEM_NAME STREQUAL "Linux" OR NOT REGINA_VERSION)
  return()
endif()

# The Debian changelog of this native package: the release and its date from CHANGELOG.md,
# which holds the notes.
file(STRINGS CHANGELOG.md release_heading REGEX "^## ${PROJECT_VERSION} \\(")
if(NOT release_heading MATCHES "\\(([0-9]+-[0-9]+-[0-9]+)\\)")
  message(FATAL_ERROR "CHANGELOG.md has no heading '## ${PROJECT_VERSION} (YYYY-MM-DD)'")
endif()
execute_process(COMMAND date -u -R -d "${CMAKE_MATCH_1} 12:00" OUTPUT_VARIABLE QUILLMARK_RELEASE_DATE
                OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
set(QUILLMARK_MAINTAINER "Quillmark maintainers <maintainers@users.noreply.c-seed-088f2a02.example>"
    CACHE STRING "The Debian package's maintainer")
configure_file(packaging/changelog.in changelog @ONLY)
execute_process(COMMAND gzip -9nf changelog WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
                COMMAND_ERROR_IS_FATAL ANY)
install(FILES ${CMAKE_BINARY_DIR}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})
# Only the package carries lintian's overrides (a plain install has no use for them).
install(FILES packaging/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
        RENAME quillmark COMPONENT debian EXCLUDE_FROM_ALL)

# The .deb installs under /usr, whatever prefix a plain install uses; the library goes to the
# add-on directory all the same. It depends on Expat at the version it is built and tested
# with, and on Regina of the one version whose add-on directory holds the library (another
# version looks elsewhere); packaging/shlibdeps.cmake adds the other libraries it links.
string(REGEX MATCH "^(.*[^0-9])?([0-9]+)$" regina_version_parts "${REGINA_VERSION}")
math(EXPR regina_last "${CMAKE_MATCH_2} + 1")
set(regina_next "${CMAKE_MATCH_1}${regina_last}") # 3.6 -> 3.7, 3.9.6 -> 3.9.7
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quillmark)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};quillmark;ALL;/"
                                  "${CMAKE_BINARY_DIR};quillmark;debian;/")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${QUILLMARK_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION interpreters)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libexpat1 (>= 2.5.0), libregina3 (>= ${REGINA_VERSION}), libregina3 (<< ${regina_next})")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS regina-rexx)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Expat XML parser for Regina Rexx programs")
set(CPACK_PACKAGE_DESCRIPTION
    "Quillmark is an external function package for the Regina Rexx interpreter
that gives Rexx programs the Expat XML parser. A program loads it by the
library name quillmark, creates parsers, names Rexx procedures as handlers
for parser events and feeds XML text piece by piece.

The manual and example programs are in /usr/share/doc/quillmark.")
set(CPACK_QUILLMARK_LIBRARY_NOTE ${CMAKE_BINARY_DIR}/CPackLibrary.cmake)
file(GENERATE OUTPUT ${CPACK_QUILLMARK_LIBRARY_NOTE}
     CONTENT "set(QUILLMARK_LIBRARY_FILE \"$<TARGET_FILE:quillmark>\")\n")
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/shlibdeps.cmake)
include(CPack)
