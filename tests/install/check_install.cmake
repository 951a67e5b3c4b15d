# cmake --install into WORK_DIR/prefix, check the installed layout, then build
# and run the consumer project against that prefix alone.
function(run_step what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE errors)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${what} failed (${status}):\n${output}\n${errors}")
  endif()
  set(step_output "${output}" PARENT_SCOPE)
endfunction()

set(prefix ${WORK_DIR}/prefix)
file(REMOVE_RECURSE ${WORK_DIR})

run_step("cmake --install" ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix} --config ${CONFIG})

foreach(installed
    ${BINDIR}/coatedmie
    ${LIBDIR}/${ENGINE_FILE}
    ${INCLUDEDIR}/coatedmie/engine.h
    ${LIBDIR}/cmake/CoatedMie/CoatedMieConfig.cmake
    ${LIBDIR}/cmake/CoatedMie/CoatedMieConfigVersion.cmake
    ${LIBDIR}/cmake/CoatedMie/CoatedMieTargets.cmake)
  if(NOT EXISTS ${prefix}/${installed})
    message(FATAL_ERROR "cmake --install did not install ${installed}")
  endif()
endforeach()

# The installed program runs from its new place.
run_step("installed coatedmie --version" ${prefix}/${BINDIR}/coatedmie --version)
if(NOT step_output STREQUAL "coatedmie ${VERSION}\n")
  message(FATAL_ERROR "installed coatedmie --version printed \"${step_output}\"")
endif()

# Only the fresh prefix may supply the package: no user or system package
# registry, and no other install prefix searched first.
run_step("configuring the consumer" ${CMAKE_COMMAND}
  -S ${CONSUMER_SOURCE_DIR} -B ${WORK_DIR}/build -G ${GENERATOR}
  -DCMAKE_BUILD_TYPE=${CONFIG}
  -DCMAKE_CXX_COMPILER=${CXX_COMPILER}
  "-DCMAKE_CXX_FLAGS=${CXX_FLAGS}"
  "-DCMAKE_EXE_LINKER_FLAGS=${EXE_LINKER_FLAGS}"
  -DCMAKE_PREFIX_PATH=${prefix}
  -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF
  -DCMAKE_FIND_USE_SYSTEM_PACKAGE_REGISTRY=OFF
  -DEXPECTED_PREFIX=${prefix}
  -DEXPECTED_VERSION=${VERSION})
run_step("building the consumer" ${CMAKE_COMMAND} --build ${WORK_DIR}/build --config ${CONFIG})

find_program(consumer NAMES consumer PATHS ${WORK_DIR}/build ${WORK_DIR}/build/${CONFIG} NO_DEFAULT_PATH)
if(NOT consumer)
  message(FATAL_ERROR "the consumer program was not built")
endif()
run_step("running the consumer" ${consumer})
message(STATUS "${step_output}")
