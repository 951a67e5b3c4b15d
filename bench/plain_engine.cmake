# The engine written line by line: the benchmarks' baseline and the tests'
# oracle of the engine's side-by-side evaluations. Built like the engine, so
# that its pow(x, 2.0) squares stay library calls.
add_library(coatedmie_plain_engine STATIC ${CMAKE_CURRENT_LIST_DIR}/plain_engine.cpp)
target_include_directories(coatedmie_plain_engine PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_compile_options(coatedmie_plain_engine PRIVATE $<$<CXX_COMPILER_ID:GNU,Clang,AppleClang>:-fno-builtin-pow>)
target_link_libraries(coatedmie_plain_engine PRIVATE coatedmie_numeric_rules)
