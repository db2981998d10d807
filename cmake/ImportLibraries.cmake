# Import libraries of zelkor.dll for every Windows toolchain, from the one
# export list: zelkor.def (plain names, as the DLL exports them) and
# zelkor.lib in Microsoft's COFF import format, made by llvm-dlltool. MinGW's
# libzelkor.dll.a comes from the linker itself.
file(READ ${PROJECT_SOURCE_DIR}/reader/exports.map map)
string(REGEX REPLACE "/\\*[^*]*\\*/" "" map "${map}")
string(REGEX MATCH "global:([^}]*)local:" map "${map}")
string(REGEX MATCHALL "[A-Za-z_][A-Za-z0-9_]*" names "${CMAKE_MATCH_1}")
list(LENGTH names count)
if(NOT count EQUAL 37)
  message(FATAL_ERROR "reader/exports.map lists ${count} functions, not 37")
endif()
list(JOIN names "\n  " lines)
set(ZELKOR_DEF_FILE ${PROJECT_BINARY_DIR}/lib/zelkor.def CACHE INTERNAL "")
file(CONFIGURE OUTPUT ${ZELKOR_DEF_FILE} CONTENT "LIBRARY zelkor.dll\nEXPORTS\n  ${lines}\n")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/reader/exports.map)

find_program(ZELKOR_DLLTOOL NAMES llvm-dlltool llvm-dlltool-14 REQUIRED)
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(machine i386)
else()
  set(machine i386:x86-64)
endif()
add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/lib/zelkor.lib
  COMMAND ${ZELKOR_DLLTOOL} -m ${machine} -d ${ZELKOR_DEF_FILE} -l ${PROJECT_BINARY_DIR}/lib/zelkor.lib
  DEPENDS ${ZELKOR_DEF_FILE} ${PROJECT_SOURCE_DIR}/reader/exports.map
  COMMENT "Import library zelkor.lib for Visual C++")
add_custom_target(zelkor_msvc_import_library ALL DEPENDS ${PROJECT_BINARY_DIR}/lib/zelkor.lib)
# MinGW's import library beside it, under the name the SDK ships.
set_target_properties(zelkor PROPERTIES ARCHIVE_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/lib)
