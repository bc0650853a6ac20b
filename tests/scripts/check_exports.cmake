# cmake -DNM=nm -DLIBRARY=libvexlarcore.so -P check_exports.cmake
# Fails when the library's dynamic symbol table holds anything but the
# vexlar namespace (and mutex_t), in particular standard-library template
# instances, or lacks one of the key API symbols below.
foreach(form mangled demangled)
  set(flags -D --defined-only --format=posix)
  if(form STREQUAL demangled)
    list(APPEND flags -C)
  endif()
  execute_process(COMMAND ${NM} ${flags} ${LIBRARY} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${NM} failed: ${err}")
  endif()
  # posix format: "name type value size"; the name is all before the last
  # three fields (demangled names hold blanks).
  string(REPLACE ";" "\\;" out "${out}")
  string(REPLACE "\n" ";" lines "${out}")
  set(${form} "")
  foreach(line IN LISTS lines)
    if(line MATCHES "^(.+) [A-Za-z] [0-9a-f]+( [0-9a-f]+)?$")
      list(APPEND ${form} "${CMAKE_MATCH_1}")
    endif()
  endforeach()
endforeach()

list(LENGTH mangled count)
message(STATUS "${LIBRARY} exports ${count} symbols")
if(count EQUAL 0)
  message(FATAL_ERROR "no exported symbols found")
endif()

set(bad "")
# Mangled: after a special-name prefix (vtable, VTT, construction vtable,
# type information, thunk, guard variable, local static), the outermost
# scope must be vexlar or mutex_t.
foreach(s IN LISTS mangled)
  string(REGEX REPLACE "^_Z(T[VTCIS]|Th-?n?[0-9]+_|Tv-?n?[0-9]+_-?n?[0-9]+_|GVZ|GV|Z)?" "" rest "${s}")
  if(NOT rest MATCHES "^N?[KVRO]*(6vexlar|7mutex_t)")
    list(APPEND bad "${s}")
  endif()
endforeach()
# Demangled: the name itself (before its template or parameter list) must
# not be in std or __gnu_cxx, so a template of the standard library
# instantiated for a vexlar type is caught whatever its return type.
foreach(s IN LISTS demangled)
  string(REGEX REPLACE "[<(].*" "" head "${s}")
  if(head MATCHES "(^| |\\*|&)(std|__gnu_cxx)::")
    list(APPEND bad "${s}")
  endif()
endforeach()
if(bad)
  list(JOIN bad "\n  " text)
  message(FATAL_ERROR "symbols exported that are not the library's own:\n  ${text}")
endif()

# Key API symbols, by demangled name.
set(required
  "vexlar::scene_t::factory()"
  "vexlar::scene_t::render(vexlar::colorOutput_t&)"
  "vexlar::scene_t::raytrace(vexlar::renderState_t&, vexlar::point3d_t const&, vexlar::vector3d_t const&) const"
  "vexlar::forkedscene_t::render(vexlar::colorOutput_t&)"
  "vexlar::blockSpliter_t::blockSpliter_t(int, int, int)"
  "vexlar::writePipe(int, void*, int)"
  "vexlar::readPipe(int, void*, int)"
  "vexlar::refract(vexlar::vector3d_t const&, vexlar::vector3d_t const&, float)"
  "vexlar::radicalInverse(unsigned long, int)"
  "vexlar::statCounters_t::now()"
  "vexlar::readWorkerMessage(int, vexlar::blockLedger_t const&, int, vexlar::workerMessage_t&)"
  "vtable for vexlar::scene_t"
  "vtable for vexlar::outTga_t"
  "typeinfo for vexlar::shader_t"
  "typeinfo for vexlar::forkedscene_t"
  "typeinfo for vexlar::object3d_t"
  "typeinfo for vexlar::colorOutput_t"
  "vexlar::rays" "vexlar::hitted" "vexlar::leafs" "vexlar::leafst" "vexlar::bcount"
  "vexlar::pcount" "vexlar::pstop" "vexlar::useZ" "vexlar::myseed"
  "vexlar::dirconverter" "vexlar::permutation" "vexlar::TGAHDR")
set(missing "")
foreach(s IN LISTS required)
  list(FIND demangled "${s}" at)
  if(at EQUAL -1)
    list(APPEND missing "${s}")
  endif()
endforeach()
if(missing)
  list(JOIN missing "\n  " text)
  message(FATAL_ERROR "key API symbols not exported:\n  ${text}")
endif()
