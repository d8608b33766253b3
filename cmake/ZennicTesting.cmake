# Test helpers shared by every tests/ folder.
find_package(GTest REQUIRED)
include(GoogleTest)

# Every executable of unit tests hangs off zennic_unit_tests, so a build can make just those.
add_custom_target(zennic_unit_tests)

# zennic_add_gtest(<target> SOURCES ... LIBRARIES ... [LABELS ...] [RESOURCE_LOCK <name>] [SERIAL])
# Builds one GoogleTest executable and registers each of its tests with ctest. Tests that share
# a RESOURCE_LOCK never run at the same time (the shared X display, the audio server's defaults);
# SERIAL tests run with no other test beside them (timing a user would hear).
function(zennic_add_gtest target)
  cmake_parse_arguments(ARG "SERIAL" "RESOURCE_LOCK" "SOURCES;LIBRARIES;LABELS" ${ARGN})
  add_executable(${target} ${ARG_SOURCES})
  target_link_libraries(${target} PRIVATE ${ARG_LIBRARIES} GTest::gmock GTest::gtest_main Threads::Threads)
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
  target_compile_definitions(${target} PRIVATE
    ZENNIC_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    ZENNIC_BINARY_DIR="${PROJECT_BINARY_DIR}")
  if(NOT ARG_LABELS)
    set(ARG_LABELS unit)
  endif()
  if("unit" IN_LIST ARG_LABELS)
    add_dependencies(zennic_unit_tests ${target})
  endif()
  set(extra_properties)
  if(ARG_RESOURCE_LOCK)
    set(extra_properties RESOURCE_LOCK ${ARG_RESOURCE_LOCK})
  endif()
  if(ARG_SERIAL)
    list(APPEND extra_properties RUN_SERIAL TRUE)
  endif()
  gtest_discover_tests(${target}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 30
    PROPERTIES TIMEOUT 300 ${extra_properties})
  # Discovery flattens its properties into one list, which would split a list of labels: the
  # labels are set by a file of their own, read after the tests are found.
  set(label_file "${CMAKE_CURRENT_BINARY_DIR}/${target}_labels.cmake")
  file(WRITE "${label_file}"
    "foreach(test IN LISTS ${target}_TESTS)\n"
    "  set_tests_properties(\"\${test}\" PROPERTIES LABELS \"${ARG_LABELS}\")\n"
    "endforeach()\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${label_file}")
endfunction()
