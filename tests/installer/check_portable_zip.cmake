# Unpacks the portable zip and checks what a user gets from it: exactly the built
# dirshift.exe, byte for byte, and the README as README.txt with Windows line ends.
# cmake -DZIP=<zip> -DEXE=<dirshift.exe> -DREADME=<README.md> -DWORK=<scratch folder> -P check_portable_zip.cmake
foreach(input ZIP EXE README WORK)
  if(NOT DEFINED ${input})
    message(FATAL_ERROR "pass -D${input}=...")
  endif()
endforeach()

file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
execute_process(COMMAND ${CMAKE_COMMAND} -E tar xf ${ZIP} WORKING_DIRECTORY ${WORK} RESULT_VARIABLE unpacked)
if(NOT unpacked EQUAL 0)
  message(FATAL_ERROR "${ZIP} does not unpack: ${unpacked}")
endif()

file(GLOB_RECURSE entries RELATIVE ${WORK} ${WORK}/*)
list(SORT entries)
if(NOT entries STREQUAL "README.txt;dirshift.exe")
  message(FATAL_ERROR "the zip holds [${entries}], expected README.txt and dirshift.exe at its top")
endif()

file(SHA256 ${EXE} built)
file(SHA256 ${WORK}/dirshift.exe shipped)
if(NOT built STREQUAL shipped)
  message(FATAL_ERROR "the zip's dirshift.exe is not the built one")
endif()

# Same text, every line ending in CR LF (file(READ) drops CRs, so the expected
# file is written out and compared byte for byte).
file(READ ${README} original)
string(REPLACE "\n" "\r\n" expected "${original}")
file(WRITE ${WORK}/expected.txt "${expected}")
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${WORK}/expected.txt ${WORK}/README.txt
  RESULT_VARIABLE differs)
if(NOT differs EQUAL 0)
  message(FATAL_ERROR "README.txt is not README.md's text with CR LF line ends")
endif()
file(REMOVE_RECURSE ${WORK})
