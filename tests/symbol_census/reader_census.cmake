# The census of the readers of files at the level of symbols
# (reader_census_test.cpp): every object that the program's executables link is
# read with nm, by the folder of its target; no object but the one reader of files
# (numerics/text_lines.cpp) and those the test lists with their reason may open a
# file. Planted readers, each in a scratch object, must be named.
function(tarmic_write_reader_census_objects)
  tarmic_programs_linked(_linked)
  set(_reader_objects "")
  foreach(_target IN LISTS _linked)
    get_target_property(_source_dir ${_target} SOURCE_DIR)
    file(RELATIVE_PATH _folder ${PROJECT_SOURCE_DIR} ${_source_dir})
    string(APPEND _reader_objects "#${_folder}\n$<JOIN:$<TARGET_OBJECTS:${_target}>,\n>\n")
  endforeach()
  file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/reader_census/objects.txt CONTENT "${_reader_objects}")
  add_dependencies(tests_reader_census ${_linked})
endfunction()
cmake_language(DEFER DIRECTORY ${PROJECT_SOURCE_DIR} CALL tarmic_write_reader_census_objects)
set(_reader_plant_targets "")
set(_reader_plants "")
foreach(_case 1 2 3 4 5 6 7 8)
  add_library(reader_plant_${_case} OBJECT symbol_census/reader_plants.cpp)
  target_compile_definitions(reader_plant_${_case} PRIVATE CASE=${_case})
  target_compile_options(reader_plant_${_case} PRIVATE -w)
  target_link_libraries(reader_plant_${_case} PRIVATE Qt6::Core)
  string(APPEND _reader_plants "$<TARGET_OBJECTS:reader_plant_${_case}>\n")
  list(APPEND _reader_plant_targets reader_plant_${_case})
endforeach()
file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/reader_census/plants.txt CONTENT "${_reader_plants}")
add_executable(tests_reader_census symbol_census/reader_census_test.cpp)
target_link_libraries(tests_reader_census PRIVATE GTest::gtest GTest::gtest_main)
target_compile_definitions(tests_reader_census PRIVATE
  TARMIC_NM="${CMAKE_NM}"
  TARMIC_READER_CENSUS_OBJECTS="${CMAKE_BINARY_DIR}/reader_census/objects.txt"
  TARMIC_READER_CENSUS_PLANTS="${CMAKE_BINARY_DIR}/reader_census/plants.txt")
add_dependencies(tests_reader_census ${_reader_plant_targets})
gtest_discover_tests(tests_reader_census PROPERTIES TIMEOUT 300 DISCOVERY_TIMEOUT 60)
