# Read by cpack before it makes the package: the libraries that the built library links, as
# dpkg-shlibdeps names them with their versions, join the hand-set dependencies. Expat and
# Regina are left out of its answer: their bounds are set by hand, and tighter.
include(${CPACK_QUILLMARK_LIBRARY_NOTE})
set(work ${CPACK_PACKAGE_DIRECTORY}/shlibdeps)
file(MAKE_DIRECTORY ${work}/debian)
file(TOUCH ${work}/debian/control)
execute_process(COMMAND dpkg-shlibdeps -O -xlibexpat1 -xlibregina3 ${QUILLMARK_LIBRARY_FILE}
                WORKING_DIRECTORY ${work} OUTPUT_VARIABLE shlibs ERROR_VARIABLE errors
                RESULT_VARIABLE failed OUTPUT_STRIP_TRAILING_WHITESPACE)
if(failed)
  message(FATAL_ERROR "dpkg-shlibdeps (from dpkg-dev) failed: ${failed}\n${errors}")
endif()
string(REGEX REPLACE "^shlibs:Depends=" "" shlibs "${shlibs}")
if(shlibs)
  string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", ${shlibs}")
endif()
