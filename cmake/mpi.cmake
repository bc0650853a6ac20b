# MPI for the vexlar program: one image rendered by the ranks of an MPI job
# (docs/mpi.md).
#   VEXLAR_MPI  option, on when MPI (Debian: libopenmpi-dev) is found; the
#               define VEXLAR_HAVE_MPI is set on the targets that use it.
#               Without it the program runs as before and refuses to be
#               started by mpirun.
#   VEXLAR_MPIEXEC  the launcher the tests use (mpiexec/mpirun), when found.
include_guard(GLOBAL)

find_package(MPI COMPONENTS CXX QUIET)
option(VEXLAR_MPI "Render one image across the ranks of an MPI job (needs libopenmpi-dev)" ${MPI_CXX_FOUND})
if(VEXLAR_MPI AND NOT MPI_CXX_FOUND)
  message(FATAL_ERROR "VEXLAR_MPI is on but MPI was not found (Debian: libopenmpi-dev openmpi-bin)")
endif()
find_package(ZLIB REQUIRED)

# Links `target` with MPI and defines VEXLAR_HAVE_MPI, when enabled; always
# with zlib (the block records are compressed with it).
function(vexlar_use_mpi target)
  target_link_libraries(${target} PRIVATE ZLIB::ZLIB)
  if(VEXLAR_MPI)
    target_link_libraries(${target} PRIVATE MPI::MPI_CXX)
    target_compile_definitions(${target} PRIVATE VEXLAR_HAVE_MPI=1)
  endif()
endfunction()
