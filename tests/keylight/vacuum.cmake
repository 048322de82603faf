# Tests of the vacuum display writer: the register stores it makes, seen through a recording
# register window.
add_executable(vacuumwriter_tests
  ${CMAKE_CURRENT_LIST_DIR}/vacuum_main.cpp
  ${CMAKE_CURRENT_LIST_DIR}/vacuum_test.cpp
)
target_link_libraries(vacuumwriter_tests PRIVATE vacuumwriter Qt::Core GTest::gtest)
gtest_discover_tests(vacuumwriter_tests PROPERTIES
  ENVIRONMENT "TSAN_OPTIONS=halt_on_error=1 suppressions=${CMAKE_CURRENT_LIST_DIR}/vacuum.tsan.supp")
