# The virtual panel itself: the daemon under good and bad clients, and programs under
# panelsim-run (files, device, the real panelprime). Each test case runs its own daemon on a
# temporary ROOT with HTTP on a free port.
find_package(Python3 REQUIRED COMPONENTS Interpreter)

# Reaches files and the device the ways Qt, FreeType and the C library do.
add_executable(preloadprobe preloadprobe.cpp)
target_link_libraries(preloadprobe PRIVATE fpgarequest Qt::Core Freetype::Freetype Threads::Threads)

if(NOT TARGET panelsim OR NOT TARGET panelsim-run)
  message(STATUS "Tests of the virtual panel left out: no native panelsim (set PANEL_HOST_TOOLS_DIR)")
  return()
endif()

set(panelsim_test_env
  PANELSIM=$<TARGET_FILE:panelsim>
  PANELSIM_RUN=$<TARGET_FILE:panelsim-run>
  PANEL_TARGET_EMULATOR=${PANEL_TARGET_EMULATOR}
  PANEL_TARGET_PRELOAD=$<TARGET_FILE:panelsim_preload>
  PRELOADPROBE=$<TARGET_FILE:preloadprobe>
  PANEL_FONT_DIR=${PANEL_X11_FONT_DIR}
  PANEL_DEFAULTS_DIR=${PROJECT_SOURCE_DIR}/packaging/etc/tesserax
  PANEL_SCRIPTS_DIR=${PROJECT_SOURCE_DIR}/scripts
  PYTHONDONTWRITEBYTECODE=1
)
if(TARGET panelprime)
  list(APPEND panelsim_test_env PANELPRIME=$<TARGET_FILE:panelprime>)
endif()

# One row per script: the script, then its test cases.
set(panelsim_tests_daemon
  daemon_test.py
  DaemonStartAndStop.test_prints_one_ready_line_and_creates_the_folders_of_root
  DaemonStartAndStop.test_ends_with_status_0_on_sigterm_and_sigint_and_removes_its_socket
  DaemonStartAndStop.test_replaces_a_stale_socket_and_refuses_to_take_over_a_live_one
  DaemonStartAndStop.test_init_lays_the_default_settings_and_font_links_and_keeps_what_is_there
  DaemonStartAndStop.test_refuses_a_malformed_command_line
  DeviceConnections.test_traces_every_access_of_every_connection_in_order
  DeviceConnections.test_answers_refused_requests_with_their_errno_and_keeps_the_connection
  DeviceConnections.test_keeps_serving_after_clients_send_garbage_or_vanish_mid_request
  DeviceConnections.test_disconnects_a_client_that_never_reads_its_replies
  HttpApi.test_state_has_every_field_with_its_type
  HttpApi.test_sets_the_status_inputs_from_a_decimal_body_and_answers_the_new_state
  HttpApi.test_serves_each_screen_as_rgb565_and_as_the_same_png
  HttpApi.test_serves_the_live_page_and_the_recent_trace
  HttpApi.test_answers_malformed_requests_with_4xx_and_a_one_line_reason_and_keeps_serving
)
set(panelsim_tests_preload
  preload_test.py
  RedirectedFiles.test_fopen_stat_and_realpath_reach_the_files_under_root
  RedirectedFiles.test_keeps_errno_of_a_missing_redirected_file
  RedirectedFiles.test_leaves_every_other_path_alone
  RedirectedFiles.test_qsettings_writes_and_reads_the_settings_under_root
  RedirectedFiles.test_qfilesystemwatcher_sees_a_change_of_a_redirected_file
  RedirectedFiles.test_freetype_opens_a_font_linked_under_root
  ForwardedDevice.test_forwards_the_ioctls_of_several_threads_with_errno_kept
  ForwardedDevice.test_the_device_is_missing_when_no_daemon_listens
  ForwardedDevice.test_a_program_with_64_device_descriptors_is_refused_a_65th
  ForwardedDevice.test_a_program_without_the_preload_is_untouched
  ForwardedDevice.test_the_exit_status_is_the_programs
  RealPrograms.test_panelprime_starts_the_three_screens
)

foreach(group daemon preload)
  set(row ${panelsim_tests_${group}})
  list(POP_FRONT row script)
  foreach(case ${row})
    string(REGEX REPLACE "^.*\\.test_" "" name ${case})
    add_test(NAME system.panelsim.${group}.${name}
      COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/${script} ${case})
    set_tests_properties(system.panelsim.${group}.${name} PROPERTIES
      ENVIRONMENT "${panelsim_test_env}" TIMEOUT 120)
  endforeach()
endforeach()
