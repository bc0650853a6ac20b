# The vexlar program under an MPI launcher (tests/mpi/mpi_render.py): equal
# images for 1, 2 and 4 ranks, a killed rank, --resume. Skipped, saying so,
# where the build has no MPI or no launcher was found; CI installs Open MPI
# (scripts/install-deps.sh), and there a skip is a failure.
include(${PROJECT_SOURCE_DIR}/cmake/mpi.cmake)
find_package(Python3 COMPONENTS Interpreter)
if(VEXLAR_MPI AND MPIEXEC_EXECUTABLE AND Python3_Interpreter_FOUND)
  add_test(NAME host_mpi_render
           COMMAND Python3::Interpreter ${CMAKE_CURRENT_LIST_DIR}/mpi_render.py $<TARGET_FILE:vexlar>
                   ${MPIEXEC_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/scene.json
                   ${CMAKE_CURRENT_BINARY_DIR}/mpi_render)
  # Several ranks on two cores: run it alone, not beside other tests.
  set_tests_properties(host_mpi_render PROPERTIES RUN_SERIAL TRUE TIMEOUT 300)
else()
  add_test(NAME host_mpi_render
           COMMAND ${CMAKE_COMMAND} -E env sh -c
                   "echo 'skipped: this build has no MPI (VEXLAR_MPI=${VEXLAR_MPI}) or no mpiexec was found; install libopenmpi-dev and openmpi-bin (scripts/install-deps.sh)'; [ -z \"$CI\" ] && exit 77; exit 1")
  set_tests_properties(host_mpi_render PROPERTIES SKIP_RETURN_CODE 77)
endif()
