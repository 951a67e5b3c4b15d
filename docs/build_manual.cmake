# Builds the manual from SOURCE_DIR into OUTPUT_DIR/html with the package of
# PACKAGE_DIR, runs every example in it (OUTPUT_DIR/doctest), and fails on a
# warning, a broken internal link or an example whose output differs.
set(environment PYTHONPATH=${PACKAGE_DIR} PYTHONDONTWRITEBYTECODE=1 MPLBACKEND=Agg)
file(REMOVE_RECURSE ${OUTPUT_DIR}/html ${OUTPUT_DIR}/doctest ${OUTPUT_DIR}/doctrees ${OUTPUT_DIR}/plot_directive)
foreach(builder html doctest)
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env ${environment}
            ${PYTHON} -m sphinx -b ${builder} -W -n --keep-going -q -d ${OUTPUT_DIR}/doctrees
            ${SOURCE_DIR} ${OUTPUT_DIR}/${builder}
    WORKING_DIRECTORY ${SOURCE_DIR}
    RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "the manual's ${builder} build failed (${status}); see above")
  endif()
endforeach()
file(GLOB_RECURSE pages RELATIVE ${OUTPUT_DIR}/html ${OUTPUT_DIR}/html/*.html)
list(LENGTH pages page_count)
file(READ ${OUTPUT_DIR}/doctest/output.txt doctest_summary)
string(REGEX MATCH "Doctest summary\n=+\n *[0-9]+ tests" examples "${doctest_summary}")
string(REGEX MATCH "[0-9]+ tests" examples "${examples}")
message(STATUS "manual: ${page_count} HTML pages in ${OUTPUT_DIR}/html, ${examples} (examples) run")
