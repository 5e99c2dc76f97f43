# The program's layers: one static library per folder, linked explicitly.
#
# Every header is included by its folder's name ("junction/junction.h"), but no
# target sees the source tree's root. Each library gets an include root of its own
# in the build tree holding one forwarding header per header of its folder, and
# publishes it: a folder's headers are reachable from the folder itself and from
# what links its library, and a wrong include fails to compile.

set(DIRSHIFT_FORWARD_ROOT ${CMAKE_BINARY_DIR}/include)

# dirshift_forward_headers(<target> <PUBLIC|PRIVATE|INTERFACE> <source folder> <include name>)
# Makes the headers of <source folder> reachable as "<include name>/<header>".
function(dirshift_forward_headers target scope source_dir include_name)
  string(MAKE_C_IDENTIFIER "${include_name}" root_name)
  set(root ${DIRSHIFT_FORWARD_ROOT}/${root_name})
  file(GLOB headers CONFIGURE_DEPENDS ${source_dir}/*.h)
  # A header moved away leaves no forwarder behind that would still be found.
  file(GLOB forwarders ${root}/${include_name}/*.h)
  foreach(forwarder IN LISTS forwarders)
    get_filename_component(name ${forwarder} NAME)
    if(NOT EXISTS ${source_dir}/${name})
      file(REMOVE ${forwarder})
    endif()
  endforeach()
  foreach(header IN LISTS headers)
    get_filename_component(name ${header} NAME)
    # file(CONFIGURE) rewrites the file only when its content changes, so an
    # unchanged forwarder never triggers a rebuild.
    file(CONFIGURE OUTPUT ${root}/${include_name}/${name}
         CONTENT "// Forwards to the source tree; made by cmake/DirshiftLayers.cmake.\n#include \"${header}\"\n"
         @ONLY)
  endforeach()
  target_include_directories(${target} ${scope} ${root})
endfunction()

# dirshift_layer(<target> [DEPENDS <libraries...>] [SOURCES <files...>])
# The library of the folder that calls it, its headers published as
# "<folder>/<header>", linked with <libraries...>.
function(dirshift_layer target)
  cmake_parse_arguments(ARG "" "" "DEPENDS;SOURCES" ${ARGN})
  get_filename_component(folder ${CMAKE_CURRENT_SOURCE_DIR} NAME)
  add_library(${target} STATIC ${ARG_SOURCES})
  dirshift_target_defaults(${target})
  dirshift_forward_headers(${target} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR} ${folder})
  target_link_libraries(${target} PUBLIC ${ARG_DEPENDS})
endfunction()
