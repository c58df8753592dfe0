# Installs the library from ZM_BUILD_DIR into a fresh prefix below
# ZM_WORK_DIR, then configures, builds and runs the consumer project in
# ZM_CONSUMER_DIR against that prefix only.
cmake_minimum_required(VERSION 3.25)

function(run_step what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${what} failed (${rc})")
  endif()
endfunction()

set(prefix ${ZM_WORK_DIR}/prefix)
set(build ${ZM_WORK_DIR}/build)
file(REMOVE_RECURSE ${ZM_WORK_DIR})

foreach(component runtime development)
  run_step("install of ${component}"
    ${CMAKE_COMMAND} --install ${ZM_BUILD_DIR} --prefix ${prefix} --component ${component})
endforeach()

# The tool, when built, installs into bin/ and runs from there with no
# help from the environment: its run path leads from its own folder to the
# installed library, never into the build tree.
if(ZM_WITH_TOOLS)
  run_step("install of tools"
    ${CMAKE_COMMAND} --install ${ZM_BUILD_DIR} --prefix ${prefix} --component tools)
  if(NOT EXISTS ${prefix}/bin/zm)
    message(FATAL_ERROR "zm was not installed into bin/")
  endif()
  execute_process(COMMAND readelf -d ${prefix}/bin/zm OUTPUT_VARIABLE dynamic)
  string(REGEX MATCH "R(UN)?PATH[^\n]*" runpath "${dynamic}")
  if(NOT runpath MATCHES "\\$ORIGIN/\\.\\./lib" OR runpath MATCHES "${ZM_BUILD_DIR}")
    message(FATAL_ERROR "installed zm has the run path: ${runpath}")
  endif()
  unset(ENV{LD_LIBRARY_PATH})
  run_step("installed zm" ${prefix}/bin/zm --version)
endif()

file(GLOB_RECURSE pcfile ${prefix}/*/zm.pc)
if(NOT pcfile)
  message(FATAL_ERROR "zm.pc was not installed")
endif()
get_filename_component(pcdir ${pcfile} DIRECTORY)
set(ENV{PKG_CONFIG_PATH} ${pcdir})

run_step("consumer configure"
  ${CMAKE_COMMAND} -S ${ZM_CONSUMER_DIR} -B ${build} -G ${ZM_GENERATOR}
    -DCMAKE_C_COMPILER=${ZM_C_COMPILER} -DCMAKE_CXX_COMPILER=${ZM_CXX_COMPILER}
    -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF
    -DCMAKE_FIND_USE_SYSTEM_PACKAGE_REGISTRY=OFF)
run_step("consumer build" ${CMAKE_COMMAND} --build ${build})

# The programs must load the installed library by its SONAME, not the one
# in the build tree.
file(GLOB libs ${prefix}/*/libzm.so.4 ${prefix}/lib/*/libzm.so.4)
if(NOT libs)
  message(FATAL_ERROR "libzm.so.4 (the SONAME link) was not installed")
endif()
list(GET libs 0 lib)
get_filename_component(libdir ${lib} DIRECTORY)
set(ENV{LD_LIBRARY_PATH} ${libdir})
run_step("consumer_cmake" ${build}/consumer_cmake)
run_step("consumer_pkgconfig" ${build}/consumer_pkgconfig)
