# The census of the storage layer's doors at the level of symbols
# (storage_census_test.cpp): every object that the program's executables link (the
# link followed target by target, as the number census does, by the folder of its
# target) is read with nm; planted objects that change files past the storage layer
# must be named.
function(tarmic_write_storage_census_objects)
  tarmic_programs_linked(_linked)
  set(_storage_objects "")
  foreach(_target IN LISTS _linked)
    get_target_property(_source_dir ${_target} SOURCE_DIR)
    file(RELATIVE_PATH _folder ${PROJECT_SOURCE_DIR} ${_source_dir})
    # "#<folder>", then the target's objects, one a line.
    string(APPEND _storage_objects "#${_folder}\n$<JOIN:$<TARGET_OBJECTS:${_target}>,\n>\n")
  endforeach()
  file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/storage_census/objects.txt CONTENT "${_storage_objects}")
  add_dependencies(tests_storage_census ${_linked})
endfunction()
cmake_language(DEFER DIRECTORY ${PROJECT_SOURCE_DIR} CALL tarmic_write_storage_census_objects)
set(_storage_plant_targets "")
set(_storage_plants "")
foreach(_case RANGE 1 15)
  add_library(storage_plant_${_case} OBJECT symbol_census/storage_plants.cpp)
  target_compile_definitions(storage_plant_${_case} PRIVATE CASE=${_case})
  target_compile_options(storage_plant_${_case} PRIVATE -w)
  target_link_libraries(storage_plant_${_case} PRIVATE Qt6::Core)
  string(APPEND _storage_plants "$<TARGET_OBJECTS:storage_plant_${_case}>\n")
  list(APPEND _storage_plant_targets storage_plant_${_case})
endforeach()
file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/storage_census/plants.txt CONTENT "${_storage_plants}")
add_executable(tests_storage_census symbol_census/storage_census_test.cpp)
target_link_libraries(tests_storage_census PRIVATE GTest::gtest GTest::gtest_main)
target_compile_definitions(tests_storage_census PRIVATE
  TARMIC_NM="${CMAKE_NM}"
  TARMIC_STORAGE_CENSUS_OBJECTS="${CMAKE_BINARY_DIR}/storage_census/objects.txt"
  TARMIC_STORAGE_CENSUS_PLANTS="${CMAKE_BINARY_DIR}/storage_census/plants.txt")
add_dependencies(tests_storage_census ${_storage_plant_targets})
gtest_discover_tests(tests_storage_census PROPERTIES TIMEOUT 300 DISCOVERY_TIMEOUT 60)
