# The censuses of doors at the level of symbols (the storage layer's writers, the
# readers of files): every object that the program's executables link (the link
# followed target by target, as the number census does) is read with nm, by the
# folder of its target; planted objects, each a case of <name>_plants.cpp in a
# scratch object, must be named by the test.

# Writes <build>/<name>_census/objects.txt: "#<folder>", then the target's objects,
# one a line, for every target the programs link.
function(tarmic_write_symbol_census_objects name)
  tarmic_programs_linked(_linked)
  set(_objects "")
  foreach(_target IN LISTS _linked)
    get_target_property(_source_dir ${_target} SOURCE_DIR)
    file(RELATIVE_PATH _folder ${PROJECT_SOURCE_DIR} ${_source_dir})
    string(APPEND _objects "#${_folder}\n$<JOIN:$<TARGET_OBJECTS:${_target}>,\n>\n")
  endforeach()
  file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/${name}_census/objects.txt CONTENT "${_objects}")
  add_dependencies(tests_${name}_census ${_linked})
endfunction()

# tarmic_symbol_census(NAME CASE...): the test tests_NAME_census from
# symbol_census/NAME_census_test.cpp with its planted cases, and TARMIC_NM,
# TARMIC_<NAME>_CENSUS_OBJECTS and TARMIC_<NAME>_CENSUS_PLANTS for it.
function(tarmic_symbol_census name)
  string(TOUPPER ${name} _upper)
  # A deferred call's arguments are expanded when it runs: the name goes in now.
  cmake_language(EVAL CODE
    "cmake_language(DEFER DIRECTORY \"${PROJECT_SOURCE_DIR}\" CALL tarmic_write_symbol_census_objects ${name})")
  set(_plant_targets "")
  set(_plants "")
  foreach(_case IN LISTS ARGN)
    add_library(${name}_plant_${_case} OBJECT symbol_census/${name}_plants.cpp)
    target_compile_definitions(${name}_plant_${_case} PRIVATE CASE=${_case})
    target_compile_options(${name}_plant_${_case} PRIVATE -w)
    target_link_libraries(${name}_plant_${_case} PRIVATE Qt6::Core)
    string(APPEND _plants "$<TARGET_OBJECTS:${name}_plant_${_case}>\n")
    list(APPEND _plant_targets ${name}_plant_${_case})
  endforeach()
  file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/${name}_census/plants.txt CONTENT "${_plants}")
  add_executable(tests_${name}_census symbol_census/${name}_census_test.cpp)
  target_link_libraries(tests_${name}_census PRIVATE GTest::gtest GTest::gtest_main)
  target_compile_definitions(tests_${name}_census PRIVATE
    TARMIC_NM="${CMAKE_NM}"
    TARMIC_${_upper}_CENSUS_OBJECTS="${CMAKE_BINARY_DIR}/${name}_census/objects.txt"
    TARMIC_${_upper}_CENSUS_PLANTS="${CMAKE_BINARY_DIR}/${name}_census/plants.txt")
  add_dependencies(tests_${name}_census ${_plant_targets})
  gtest_discover_tests(tests_${name}_census PROPERTIES TIMEOUT 300 DISCOVERY_TIMEOUT 60)
endfunction()
