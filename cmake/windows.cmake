# Quillmark.dll: what the Windows build adds to the shared library's target. Included from the
# top-level CMakeLists.txt when the target is Windows (a MinGW-w64 cross build, see
# cmake/mingw-w64-x86_64.cmake and scripts/windows).

# Expat is linked in statically: without XML_STATIC its header declares every function
# __declspec(dllimport).
option(QUILLMARK_EXPAT_STATIC "Expat is a static library" ON)
if(QUILLMARK_EXPAT_STATIC)
  target_compile_definitions(quillmark_objects PUBLIC XML_STATIC)
endif()

# Expat's positions and counts (XML_Index, XML_Size) are long and unsigned long: 8 bytes on
# 64-bit Linux, 4 on Windows, unless Expat is built with EXPAT_LARGE_SIZE, which makes them
# 64-bit everywhere. The package must be compiled with the same setting as Expat, or the position
# functions answer with the wrong width (ExpatGetCurrentByteIndex gives 4294967295 for -1).
option(QUILLMARK_EXPAT_LARGE_SIZE "Expat was built with EXPAT_LARGE_SIZE=ON" ON)
if(QUILLMARK_EXPAT_LARGE_SIZE)
  target_compile_definitions(quillmark_objects PUBLIC XML_LARGE_SIZE)
endif()

# The export list made from package/functions.h names the entry points without any decoration
# the calling convention might add (on 32-bit Windows APIENTRY is __stdcall, whose names get an
# @N suffix); tests/windows_dll.sh checks the table.
target_sources(quillmark PRIVATE ${CMAKE_BINARY_DIR}/exports.def)

if(MINGW)
  # The C++ and GCC runtimes and winpthreads go into the DLL itself, so that Quillmark.dll needs
  # nothing beside it but regina.dll and what every Windows has.
  target_link_options(quillmark PRIVATE -static -static-libgcc -static-libstdc++)
endif()
