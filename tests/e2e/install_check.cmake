# Installs the build tree BUILD into a fresh prefix PREFIX, as a user would
# with `cmake --install BUILD --prefix PREFIX`, and checks that exactly the
# two programs land in PREFIX/bin and start from there.
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD}" --prefix "${PREFIX}"
  RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cmake --install failed (${status}):\n${output}")
endif()
file(GLOB_RECURSE installed RELATIVE "${PREFIX}" "${PREFIX}/*")
list(SORT installed)
if(NOT installed STREQUAL "bin/tarvex;bin/tarvex-plain")
  message(FATAL_ERROR "installed files are not the two programs in bin/: ${installed}")
endif()
foreach(program tarvex tarvex-plain)
  # Without arguments each prints its banner and ends with status 1.
  execute_process(COMMAND "${PREFIX}/bin/${program}" RESULT_VARIABLE status OUTPUT_VARIABLE banner
    ERROR_VARIABLE errors INPUT_FILE /dev/null)
  if(NOT status EQUAL 1 OR NOT banner MATCHES "^Tarvex " OR NOT errors STREQUAL "")
    message(FATAL_ERROR "${PREFIX}/bin/${program}: status ${status}, output ${banner}${errors}")
  endif()
endforeach()
file(REMOVE_RECURSE "${PREFIX}")
