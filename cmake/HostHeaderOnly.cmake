# Header-only libraries of the build machine for a cross build.
#
# CLI11 and nlohmann-json are header-only and installed by Debian under
# /usr/include, next to the build machine's C library headers. A cross build
# must not put /usr/include on its include path, so each library's own
# directory is linked into a folder of the build tree that holds nothing
# else, and find_package(CLI11) / find_package(nlohmann_json) find a small
# package file that gives their usual targets that folder as include path.
if(NOT CMAKE_CROSSCOMPILING)
  return()
endif()

set(ZELKOR_HOST_INCLUDE_DIR /usr/include CACHE PATH
  "Where the build machine keeps the CLI11 and nlohmann-json headers")

function(zelkor_host_header_package package target header_dir)
  set(host_dir ${ZELKOR_HOST_INCLUDE_DIR}/${header_dir})
  if(NOT IS_DIRECTORY ${host_dir})
    return()
  endif()
  set(include_dir ${CMAKE_BINARY_DIR}/host-headers/${package})
  set(config_dir ${CMAKE_BINARY_DIR}/host-packages/${package})
  file(MAKE_DIRECTORY ${include_dir} ${config_dir})
  file(CREATE_LINK ${host_dir} ${include_dir}/${header_dir} SYMBOLIC)
  file(WRITE ${config_dir}/${package}Config.cmake
    "if(NOT TARGET ${target})\n"
    "  add_library(${target} INTERFACE IMPORTED)\n"
    "  set_target_properties(${target} PROPERTIES\n"
    "    INTERFACE_INCLUDE_DIRECTORIES \"${include_dir}\"\n"
    "    INTERFACE_SYSTEM_INCLUDE_DIRECTORIES \"${include_dir}\")\n"
    "endif()\n")
  # The version check is the installed package's own.
  foreach(candidate /usr/share/cmake/${package} /usr/lib/cmake/${package}
                    /usr/share/${package}/cmake)
    foreach(name ${package}ConfigVersion.cmake ${package}-config-version.cmake)
      if(EXISTS ${candidate}/${name})
        file(WRITE ${config_dir}/${package}ConfigVersion.cmake "include(\"${candidate}/${name}\")\n")
      endif()
    endforeach()
  endforeach()
  set(${package}_DIR ${config_dir} CACHE PATH "Package file for the cross build" FORCE)
endfunction()

zelkor_host_header_package(CLI11 CLI11::CLI11 CLI)
zelkor_host_header_package(nlohmann_json nlohmann_json::nlohmann_json nlohmann)
