# Helpers that keep every folder's CMakeLists.txt down to one line per deliverable.

# A shared library loaded with dlopen: hidden symbols, self-bound, no "lib" prefix,
# written into the run folder under <folder> (relative to build/game).
function(zelvik_module target folder)
  set_target_properties(${target} PROPERTIES
    PREFIX ""
    CXX_VISIBILITY_PRESET hidden
    C_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON
    LIBRARY_OUTPUT_DIRECTORY ${ZELVIK_GAME_DIR}/${folder})
  target_link_options(${target} PRIVATE -Wl,-Bsymbolic -Wl,--no-undefined)
endfunction()

# zelvik_plugin(<name> <modes|rotationsystem|randomizer> SOURCES ... [LIBS ...])
function(zelvik_plugin name kind)
  cmake_parse_arguments(P "" "" "SOURCES;LIBS" ${ARGN})
  add_library(${name} MODULE ${P_SOURCES})
  target_link_libraries(${name} PRIVATE zelvik_shared ${P_LIBS})
  zelvik_module(${name} dlls/${kind})
  add_dependencies(zelvik_plugins ${name})
endfunction()

# zelvik_program(<name> SOURCES ... [LIBS ...]): an executable in the run folder.
function(zelvik_program name)
  cmake_parse_arguments(P "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${P_SOURCES})
  target_link_libraries(${name} PRIVATE ${P_LIBS})
endfunction()

# zelvik_test(<Unit> [SOURCES ...] [LIBS ...]): tests/<Unit>_test.cpp, run from the run folder.
# Tests that load built modules depend on everything in the run folder.
function(zelvik_test unit)
  # TIMEOUT: seconds each test may take (tests that wait on an X server get a short one).
  cmake_parse_arguments(P "" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  set(target ${unit}_test)
  set(timeout)
  if(P_TIMEOUT)
    set(timeout TIMEOUT ${P_TIMEOUT})
  endif()
  add_executable(${target} ${CMAKE_CURRENT_SOURCE_DIR}/${unit}_test.cpp ${P_SOURCES})
  target_link_libraries(${target} PRIVATE GTest::gtest GTest::gtest_main Threads::Threads ${P_LIBS})
  target_compile_definitions(${target} PRIVATE
    ZELVIK_GAME_DIR="${ZELVIK_GAME_DIR}"
    ZELVIK_TEST_DATA="${CMAKE_CURRENT_SOURCE_DIR}/data"
    ZELVIK_SHARED_DATA="${CMAKE_SOURCE_DIR}/../shared/data"
    ZELVIK_TEST_BIN="${CMAKE_CURRENT_BINARY_DIR}")
  set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
  add_dependencies(${target} zelvik_run_folder)
  gtest_discover_tests(${target}
    WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
    # One value per property: a list here would be split into key/value pairs.
    PROPERTIES ENVIRONMENT "SDL_VIDEODRIVER=dummy" ENVIRONMENT_MODIFICATION "SDL_AUDIODRIVER=set:dummy" ${timeout}
    DISCOVERY_TIMEOUT 60)
endfunction()

# zelvik_bench(<name> SOURCES ... [LIBS ...]): a benchmark program under build/bench.
function(zelvik_bench name)
  cmake_parse_arguments(P "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${P_SOURCES})
  target_link_libraries(${name} PRIVATE ${P_LIBS})
  target_compile_definitions(${name} PRIVATE ZELVIK_GAME_DIR="${ZELVIK_GAME_DIR}")
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
  add_dependencies(${name} zelvik_run_folder)
endfunction()
