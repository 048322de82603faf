# Tests of the FPGA object, its worker and tasks, the font settings it follows and the level
# file: the real classes in-process against the FPGA model, with real files and fonts.
add_executable(keylightfpga_tests
  ${CMAKE_CURRENT_LIST_DIR}/fpga_main.cpp
  ${CMAKE_CURRENT_LIST_DIR}/fpga_support.h ${CMAKE_CURRENT_LIST_DIR}/fpga_support.cpp
  ${CMAKE_CURRENT_LIST_DIR}/worker_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/fontsettings_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/levelfile_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/setupfaults_test.cpp
)
target_compile_definitions(keylightfpga_tests PRIVATE PANEL_X11_FONT_DIR="${PANEL_X11_FONT_DIR}")
target_link_libraries(keylightfpga_tests PRIVATE
  keylightfpga fpgamodel_inprocess Qt${PANEL_QT_MAJOR}::Core GTest::gtest Threads::Threads)
gtest_discover_tests(keylightfpga_tests DISCOVERY_TIMEOUT 60
  PROPERTIES ENVIRONMENT
    "TSAN_OPTIONS=halt_on_error=1 suppressions=${CMAKE_CURRENT_LIST_DIR}/fpga.tsan.supp")
