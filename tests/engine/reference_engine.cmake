# The plain engine: the oracle of the fast paths in the tests and their
# baseline in the benchmarks. Built like the engine itself, so that its
# pow(x, 2.0) squares stay library calls.
add_library(coatedmie_reference_engine STATIC ${CMAKE_CURRENT_LIST_DIR}/reference_engine.cpp)
target_include_directories(coatedmie_reference_engine
  PUBLIC ${CMAKE_CURRENT_LIST_DIR} ${PROJECT_SOURCE_DIR}/engine)
target_compile_options(coatedmie_reference_engine PRIVATE
  $<$<CXX_COMPILER_ID:GNU,Clang,AppleClang>:-fno-builtin-pow>)
target_link_libraries(coatedmie_reference_engine
  PUBLIC coatedmie_engine
  PRIVATE coatedmie_numeric_rules)
