# cmake --install into WORK_DIR/prefix, check the installed layout, then build
# and run the consumer project against that prefix alone.
function(run_step what expected)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE errors)
  if(NOT status EQUAL 0 OR NOT (expected STREQUAL "" OR output STREQUAL expected))
    message(FATAL_ERROR "${what} failed (${status}), expected \"${expected}\":\n${output}\n${errors}")
  endif()
endfunction()

set(prefix ${WORK_DIR}/prefix)
file(REMOVE_RECURSE ${WORK_DIR})
run_step("cmake --install" "" ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix} --config ${CONFIG})
foreach(installed ${BINDIR}/coatedmie ${LIBDIR}/${ENGINE_FILE} ${INCLUDEDIR}/coatedmie/engine.h
    ${LIBDIR}/cmake/CoatedMie/CoatedMieConfig.cmake ${LIBDIR}/cmake/CoatedMie/CoatedMieConfigVersion.cmake)
  if(NOT EXISTS ${prefix}/${installed})
    message(FATAL_ERROR "cmake --install did not install ${installed}")
  endif()
endforeach()
run_step("installed coatedmie --version" "coatedmie ${VERSION}\n" ${prefix}/${BINDIR}/coatedmie --version)
if(PYTHON)
  run_step("importing the installed package" "${prefix}/${PYTHON_DIR}/coatedmie/__init__.py [0. 1.]\n"
    ${CMAKE_COMMAND} -E env PYTHONPATH=${prefix}/${PYTHON_DIR} PYTHONDONTWRITEBYTECODE=1
    ${PYTHON} -c "import coatedmie\nprint(coatedmie.__file__, coatedmie.angle_grid(2, 0, 1))")
endif()

# Only the fresh prefix may supply the package: no user or system package
# registry, and no other install prefix searched first.
run_step("configuring the consumer" "" ${CMAKE_COMMAND} -S ${CONSUMER_SOURCE_DIR} -B ${WORK_DIR}/build -G ${GENERATOR}
  -DCMAKE_BUILD_TYPE=${CONFIG} -DCMAKE_CXX_COMPILER=${CXX_COMPILER} "-DCMAKE_CXX_FLAGS=${CXX_FLAGS}"
  "-DCMAKE_EXE_LINKER_FLAGS=${EXE_LINKER_FLAGS}" -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF
  -DCMAKE_FIND_USE_SYSTEM_PACKAGE_REGISTRY=OFF -DEXPECTED_PREFIX=${prefix} -DEXPECTED_VERSION=${VERSION})
run_step("building the consumer" "" ${CMAKE_COMMAND} --build ${WORK_DIR}/build --config ${CONFIG})
find_program(consumer NAMES consumer PATHS ${WORK_DIR}/build ${WORK_DIR}/build/${CONFIG} NO_DEFAULT_PATH REQUIRED)
# The reference run's values.
run_step("running the consumer" "20 3.135894 2.011933 1.123961 5.519364 0.7590923 3.139228 0.707214\n" ${consumer})
