# cmake -P script: installs BUILD_DIR into a fresh scratch prefix, takes the
# example plug-in (its source, CMakeLists.txt and scene) out of DOC, builds
# it against the installed package, and checks with the installed program
# that `--plugins` loads it next to the standard plug-ins, that
# `--list-plugins` shows the listing DOC shows, and that the scene renders
# to the picture DOC describes, in process and with worker processes.
# Inputs: BUILD_DIR, CONFIG, DOC, SCRATCH_ROOT, GENERATOR, CXX.
cmake_minimum_required(VERSION 3.16)

string(RANDOM LENGTH 10 tag)
string(TIMESTAMP stamp "%Y%m%d%H%M%S")
set(scratch "${SCRATCH_ROOT}/plugin-sdk-${stamp}-${tag}")
set(prefix "${scratch}/prefix")
file(MAKE_DIRECTORY "${scratch}/src")

macro(fail what)
  file(REMOVE_RECURSE "${scratch}")
  message(FATAL_ERROR "${what}")
endmacro()

# Runs a command in the scratch folder; stops with its output on failure.
# Leaves its standard output and error in step_out and step_err.
function(step name)
  execute_process(COMMAND ${ARGN} WORKING_DIRECTORY "${scratch}"
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    fail("${name} failed (${rc}):\n${out}\n${err}")
  endif()
  set(step_out "${out}" PARENT_SCOPE)
  set(step_err "${err}" PARENT_SCOPE)
endfunction()

set(config_args)
set(build_type Release)
if(CONFIG)
  set(config_args --config "${CONFIG}")
  set(build_type "${CONFIG}")
endif()
step("install" ${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${prefix}" ${config_args})
file(GLOB addplugin "${prefix}/lib*/cmake/vexlarcore/vexlarAddPlugin.cmake"
     "${prefix}/lib/*/cmake/vexlarcore/vexlarAddPlugin.cmake")
if(NOT addplugin)
  fail("installed package lacks vexlarAddPlugin.cmake")
endif()
foreach(f include/vexlarplugin/params.h include/vexlarplugin/lighting.h bin/vexlar)
  if(NOT EXISTS "${prefix}/${f}")
    fail("installed tree lacks ${f}")
  endif()
endforeach()

# The page's blocks: "<!-- file: NAME -->" before a fenced block writes it
# to src/NAME; "<!-- output: list-plugins -->" marks lines the listing holds.
file(STRINGS "${DOC}" lines)
set(target "")
set(inside FALSE)
set(listing "")
foreach(line IN LISTS lines)
  if(NOT inside AND line MATCHES "^<!-- (file|output): ([^ ]+) -->$")
    set(target "${CMAKE_MATCH_1}:${CMAKE_MATCH_2}")
    set(text "")
  elseif(target AND line MATCHES "^```")
    if(inside)
      if(target MATCHES "^file:(.*)")
        file(WRITE "${scratch}/src/${CMAKE_MATCH_1}" "${text}")
      else()
        set(listing "${text}")
      endif()
      set(target "")
      set(inside FALSE)
    else()
      set(inside TRUE)
    endif()
  elseif(inside)
    string(APPEND text "${line}\n")
  endif()
endforeach()
foreach(f CMakeLists.txt toon.cpp scene.json)
  if(NOT EXISTS "${scratch}/src/${f}")
    fail("${DOC} has no block for ${f}")
  endif()
endforeach()
if(NOT listing)
  fail("${DOC} has no listing block")
endif()

step("configure the plug-in" ${CMAKE_COMMAND} -S "${scratch}/src" -B "${scratch}/build" -G "${GENERATOR}"
  "-DCMAKE_PREFIX_PATH=${prefix}" "-DCMAKE_CXX_COMPILER=${CXX}" "-DCMAKE_BUILD_TYPE=${build_type}")
step("build the plug-in" ${CMAKE_COMMAND} --build "${scratch}/build" ${config_args})
if(NOT EXISTS "${scratch}/build/plugins/shader_toon.so")
  fail("vexlar_add_plugin did not make build/plugins/shader_toon.so")
endif()

set(vexlar "${prefix}/bin/vexlar")
step("vexlar --list-plugins" "${vexlar}" --plugins "${scratch}/build/plugins" --list-plugins)
if(NOT step_err STREQUAL "")
  fail("loading the plug-in gave warnings:\n${step_err}")
endif()
string(REPLACE "\n" ";" expected "${listing}")
foreach(line IN LISTS expected)
  string(FIND "${step_out}" "${line}\n" at)
  if(at EQUAL -1)
    fail("--list-plugins lacks the line\n${line}\nof ${DOC}; it printed:\n${step_out}")
  endif()
endforeach()
string(FIND "${step_out}" "  generic (shader_generic)" at)
if(at EQUAL -1)
  fail("the standard plug-ins are missing next to --plugins:\n${step_out}")
endif()

# A folder named twice loads once; a second module with the same type is
# reported and ignored; without the standard plug-ins only the folder's are.
set(plugins "${scratch}/build/plugins")
file(COPY_FILE "${plugins}/shader_toon.so" "${scratch}/shader_toon_copy.so")
step("vexlar with a folder twice and a copy" "${vexlar}" --plugins "${plugins}" --plugins "${plugins}/"
  --plugins "${scratch}" --list-plugins)
if(NOT step_err MATCHES "^vexlar: warning: plug-in [^\n]*shader_toon_copy.so: shader type \"toon\" is already registered by [^\n]*/build/plugins/shader_toon.so; ignored\n$")
  fail("unexpected warnings with a folder twice and a copy of the module:\n${step_err}")
endif()
step("vexlar --no-standard-plugins" "${vexlar}" --no-standard-plugins --plugins "${plugins}" --list-plugins)
if(NOT step_out MATCHES "toon \\(shader_toon\\)" OR step_out MATCHES "generic")
  fail("--no-standard-plugins should list only the folder's types:\n${step_out}")
endif()

# 8 x 6 pixels of cyan; TGA keeps blue, green, red.
string(REPEAT "ffff00" 48 cyan)
foreach(workers 1 2)
  step("render with -j ${workers}" "${vexlar}" --plugins "${scratch}/build/plugins" -q --strict -j ${workers}
    -o "${scratch}/out${workers}.tga" "${scratch}/src/scene.json")
  file(READ "${scratch}/out${workers}.tga" header LIMIT 18 HEX)
  file(READ "${scratch}/out${workers}.tga" pixels OFFSET 18 HEX)
  string(SUBSTRING "${header}" 24 8 size)
  if(NOT size STREQUAL "08000600" OR NOT pixels STREQUAL cyan)
    fail("the scene rendered with -j ${workers} is not 8 x 6 cyan: header ${header}, pixels ${pixels}")
  endif()
endforeach()

file(REMOVE_RECURSE "${scratch}")
message(STATUS "an out-of-tree plug-in builds against the installed package, loads and renders")
