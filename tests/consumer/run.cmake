# cmake -P script: installs BUILD_DIR into a fresh scratch prefix, builds the
# consumer in CONSUMER_SOURCE against it with find_package and with
# pkg-config, runs both programs, and removes the scratch directory.
# Inputs: BUILD_DIR, CONFIG, CONSUMER_SOURCE, SCRATCH_ROOT, GENERATOR, CXX.
cmake_minimum_required(VERSION 3.16)

# A directory of its own, so that concurrent runs never share files.
string(RANDOM LENGTH 10 tag)
string(TIMESTAMP stamp "%Y%m%d%H%M%S")
set(scratch "${SCRATCH_ROOT}/install-consumer-${stamp}-${tag}")
set(prefix "${scratch}/prefix")
file(MAKE_DIRECTORY "${scratch}")

macro(fail what)
  file(REMOVE_RECURSE "${scratch}")
  message(FATAL_ERROR "${what}")
endmacro()

# Runs a command; on failure removes the scratch directory and stops with
# the command's output.
function(step name)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    fail("${name} failed (${rc}):\n${out}\n${err}")
  endif()
endfunction()

set(config_args)
if(CONFIG)
  set(config_args --config "${CONFIG}")
endif()

step("install" ${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${prefix}" ${config_args})

foreach(f include/vexlarcore/vexlarcore.h include/vexlarcore/output.h include/vexlarcore/color.h include/vexlarcore/version.h)
  if(NOT EXISTS "${prefix}/${f}")
    fail("installed tree lacks ${f}")
  endif()
endforeach()

# Through the CMake package.
set(build_type Release)
if(CONFIG)
  set(build_type "${CONFIG}")
endif()
step("configure consumer" ${CMAKE_COMMAND} -S "${CONSUMER_SOURCE}" -B "${scratch}/build" -G "${GENERATOR}"
  "-DCMAKE_PREFIX_PATH=${prefix}" "-DCMAKE_CXX_COMPILER=${CXX}" "-DCMAKE_BUILD_TYPE=${build_type}")
step("build consumer" ${CMAKE_COMMAND} --build "${scratch}/build" ${config_args})
file(GLOB_RECURSE exe LIST_DIRECTORIES false "${scratch}/build/consumer" "${scratch}/build/*/consumer")
if(NOT exe)
  fail("consumer executable not found")
endif()
list(GET exe 0 exe)
step("run consumer (CMake package)" "${exe}" "${scratch}/cmake.tga")

# Through pkg-config. The installed file names the prefix chosen when the
# build was configured, so the scratch prefix is given explicitly.
file(GLOB_RECURSE pcfile "${prefix}/*/vexlarcore.pc")
if(NOT pcfile)
  fail("vexlarcore.pc not installed")
endif()
list(GET pcfile 0 pcfile)
get_filename_component(pcdir "${pcfile}" DIRECTORY)
find_program(PKG_CONFIG NAMES pkg-config pkgconf)
if(NOT PKG_CONFIG)
  fail("pkg-config not found")
endif()
set(ENV{PKG_CONFIG_PATH} "${pcdir}")
execute_process(COMMAND "${PKG_CONFIG}" --cflags --libs vexlarcore
  RESULT_VARIABLE rc OUTPUT_VARIABLE flags ERROR_VARIABLE err OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT rc EQUAL 0)
  fail("pkg-config failed (${rc}): ${err}")
endif()
separate_arguments(flags UNIX_COMMAND "${flags}")
get_filename_component(libdir "${pcdir}" DIRECTORY)
step("compile consumer (pkg-config)" "${CXX}" "${CONSUMER_SOURCE}/main.cpp" -o "${scratch}/consumer-pc"
  ${flags} "-Wl,-rpath,${libdir}")
step("run consumer (pkg-config)" "${scratch}/consumer-pc" "${scratch}/pc.tga")

file(REMOVE_RECURSE "${scratch}")
message(STATUS "installed library usable through find_package and pkg-config")
