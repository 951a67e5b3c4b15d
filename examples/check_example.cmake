# Runs PROGRAM on EXAMPLE_DIR/Parameter_in.txt in a fresh RUN_DIR and compares
# both result files with the example's, byte for byte (line ends included).
file(REMOVE_RECURSE ${RUN_DIR})
file(MAKE_DIRECTORY ${RUN_DIR})
file(COPY ${EXAMPLE_DIR}/Parameter_in.txt DESTINATION ${RUN_DIR})
execute_process(COMMAND ${PROGRAM} WORKING_DIRECTORY ${RUN_DIR}
                INPUT_FILE /dev/null RESULT_VARIABLE status ERROR_VARIABLE errors)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "the program ended with status ${status}: ${errors}")
endif()
if(NOT errors STREQUAL "")
  message(FATAL_ERROR "a successful run printed: ${errors}")
endif()
foreach(name Header_Coated_TA.txt Mie_Coated_TA.txt)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${EXAMPLE_DIR}/${name} ${RUN_DIR}/${name}
                  RESULT_VARIABLE differs)
  if(differs)
    message(FATAL_ERROR "${name} differs from ${EXAMPLE_DIR}/${name} (see ${RUN_DIR})")
  endif()
endforeach()
