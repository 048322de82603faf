# Tests of the keylight server: the real classes in-process against the FPGA model, with
# real TCP clients; and the real program for its command line.
add_executable(keylightserver_tests
  ${CMAKE_CURRENT_LIST_DIR}/server_main.cpp
  ${CMAKE_CURRENT_LIST_DIR}/server_harness.h ${CMAKE_CURRENT_LIST_DIR}/server_harness.cpp
  ${CMAKE_CURRENT_LIST_DIR}/blinking_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/connector_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/dispatcher_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/listen_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/load_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/panelmap_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/startup_test.cpp
)
target_compile_definitions(keylightserver_tests PRIVATE
  PANEL_X11_FONT_DIR="${PANEL_X11_FONT_DIR}"
  KEYLIGHT_BINARY="$<TARGET_FILE:keylight>"
  PANEL_TARGET_EMULATOR="${PANEL_TARGET_EMULATOR}")
target_link_libraries(keylightserver_tests PRIVATE
  keylightserver keylightfpga klm fpgamodel_inprocess Qt::Core Qt::Network GTest::gtest)
add_dependencies(keylightserver_tests keylight)
gtest_discover_tests(keylightserver_tests DISCOVERY_TIMEOUT 60
  PROPERTIES ENVIRONMENT
    "TSAN_OPTIONS=halt_on_error=1 suppressions=${CMAKE_CURRENT_LIST_DIR}/server.tsan.supp")
