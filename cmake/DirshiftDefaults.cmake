# Compiler and linker settings shared by every Dirshift target.

function(dirshift_target_defaults target)
  target_compile_definitions(${target} PRIVATE
    UNICODE _UNICODE NOMINMAX WIN32_LEAN_AND_MEAN
    _WIN32_WINNT=0x0601 WINVER=0x0601 _WIN32_IE=0x0800)
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4 /WX /permissive- /utf-8)
    target_link_options(${target} PRIVATE /DYNAMICBASE /NXCOMPAT /HIGHENTROPYVA /MANIFEST:NO)
  else()
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Werror
      $<$<COMPILE_LANGUAGE:CXX>:-Wno-cast-function-type>)
    target_link_options(${target} PRIVATE -static -static-libgcc -static-libstdc++
      -Wl,--dynamicbase -Wl,--nxcompat -Wl,--high-entropy-va
      $<$<CONFIG:Release>:-s>)
  endif()
endfunction()

# The program's entry point is wmain, which receives the command line already split
# into wide arguments, also for a GUI-subsystem executable.
function(dirshift_wide_entry target)
  if(MSVC)
    target_link_options(${target} PRIVATE /ENTRY:wmainCRTStartup)
  else()
    target_link_options(${target} PRIVATE -municode)
  endif()
endfunction()

# Source file properties belong to the directory that sets them, so each directory
# that compiles the resource script says that the manifest, the icon and the ids
# beside it are part of it: a changed manifest or icon then rebuilds its programs.
function(dirshift_track_resources)
  set_property(SOURCE ${DIRSHIFT_RESOURCE_SCRIPT} APPEND PROPERTY OBJECT_DEPENDS ${DIRSHIFT_RESOURCE_DEPENDS})
endfunction()
