# End-to-end tests: the real programs under panelsim-run (and the demo that runs them all), each test against a daemon of its own
# on a fresh temporary ROOT. The scripts are plain Python 3 (standard library only).
find_package(Python3 REQUIRED COMPONENTS Interpreter)

# Renders the expected pixels of a text line straight from the font, independently of hw/.
if(CMAKE_CROSSCOMPILING)
  panel_host_tool(glyphline tests/system/glyphline)
else()
  add_executable(glyphline glyphline.cpp)
  target_link_libraries(glyphline PRIVATE Freetype::Freetype)
endif()

# One row per script: the script, the programs it runs (CMake targets, comma-separated), then
# its test cases.
set(panel_e2e_panelprime
  panelprime_e2e.py panelprime
  PanelprimeOnTheVirtualPanel.test_writes_the_whole_start_up_sequence_and_turns_the_screens_on
  PanelprimeOnTheVirtualPanel.test_without_the_device_exits_with_status_0_and_prints_nothing
)
set(panel_e2e_keylight
  keylight_e2e.py panelprime,keylight
  KeylightOnTheVirtualPanel.test_text_lines_appear_pixel_for_pixel_as_the_font_draws_them
  KeylightOnTheVirtualPanel.test_an_image_is_drawn_at_its_position_with_its_first_stored_row_at_the_bottom
  KeylightOnTheVirtualPanel.test_frames_too_large_to_act_on_are_dropped_with_a_line_and_the_connection_goes_on
  KeylightOnTheVirtualPanel.test_leds_follow_the_messages_and_blinking_shows_in_the_trace
  KeylightOnTheVirtualPanel.test_blinking_and_the_toggle_indicators_outlive_a_killed_keylight
  KeylightOnTheVirtualPanel.test_a_device_that_stops_answering_is_logged_once_and_blinking_resumes_when_it_answers
  KeylightOnTheVirtualPanel.test_the_screen_level_of_the_level_file_reaches_the_backlight_on_reconfigure
  KeylightOnTheVirtualPanel.test_a_changed_font_size_in_the_launcher_settings_takes_effect
  KeylightOnTheVirtualPanel.test_without_the_device_it_serves_clients_and_draws_nowhere
  KeylightOnTheVirtualPanel.test_on_the_journal_stream_each_line_starts_with_its_priority_and_nowhere_else
  KeylightOnTheVirtualPanel.test_its_picture_of_the_panel_equals_the_board_byte_for_byte
  KeylightOnTheVirtualPanel.test_a_restart_draws_the_picture_from_before_back_instead_of_blacking_the_screens_out
)
set(panel_e2e_lampwatch
  lampwatch_e2e.py panelprime,keylight,lampwatch
  LampwatchOnTheVirtualPanel.test_in_single_supply_mode_any_plugged_supply_lights_the_psu_led
  LampwatchOnTheVirtualPanel.test_in_redundant_mode_the_psu_led_needs_both_supplies
  LampwatchOnTheVirtualPanel.test_without_the_device_it_keeps_running_and_still_switches_indicator_1_on
  LampwatchOnTheVirtualPanel.test_a_device_that_appears_later_is_logged_missing_once_then_lights_the_psu_led
  LampwatchOnTheVirtualPanel.test_refuses_help_and_an_interval_that_is_no_number_or_0_with_a_usage_line_and_status_2
)
set(panel_e2e_panelview
  panelview_e2e.py panelview
  PanelviewOnAPicture.test_serves_the_picture_read_only_as_the_board_api_and_follows_it
  PanelviewOnAPicture.test_writes_one_screen_or_all_three_side_by_side_as_png
  PanelviewOnAPicture.test_refuses_a_file_that_is_no_whole_picture_with_one_line_and_status_2
)
set(panel_e2e_demo
  demo_test.py panelprime,keylight,lampwatch
  DemoStartAndStop.test_prints_the_address_first_plays_the_show_once_the_page_answers_and_stops_on_ctrl_c
  DemoStartAndStop.test_sigterm_before_the_show_stops_everything
)

set(panel_e2e_env
  PANELSIM=$<TARGET_FILE:panelsim>
  PANELSIM_RUN=$<TARGET_FILE:panelsim-run>
  PANEL_TARGET_EMULATOR=${PANEL_TARGET_EMULATOR}
  PANEL_TARGET_PRELOAD=$<TARGET_FILE:panelsim_preload>
  GLYPHLINE=$<TARGET_FILE:glyphline>
  PANEL_FONT_DIR=${PANEL_X11_FONT_DIR}
  PANEL_SCRIPTS_DIR=${PROJECT_SOURCE_DIR}/scripts
  PANEL_BUILD_DIR=${CMAKE_BINARY_DIR}
  PYTHONDONTWRITEBYTECODE=1
)

set(panel_e2e_groups panelprime keylight lampwatch panelview)
# The demo is the development machine's show (make demo): it runs a native build's programs,
# while the other groups drive a cross build's programs under the emulator.
if(NOT CMAKE_CROSSCOMPILING)
  list(APPEND panel_e2e_groups demo)
endif()
foreach(group ${panel_e2e_groups})
  set(row ${panel_e2e_${group}})
  list(POP_FRONT row script programs)
  string(REPLACE "," ";" programs ${programs})
  set(env ${panel_e2e_env})
  set(missing "")
  foreach(program panelsim panelsim-run glyphline ${programs})
    if(NOT TARGET ${program})
      list(APPEND missing ${program})
    endif()
  endforeach()
  if(missing)
    list(JOIN missing ", " missing)
    message(STATUS "End-to-end tests of ${group} left out: no target ${missing}")
    continue()
  endif()
  foreach(program ${programs})
    string(TOUPPER ${program} variable)
    list(APPEND env ${variable}=$<TARGET_FILE:${program}>)
  endforeach()
  foreach(case ${row})
    string(REGEX REPLACE "^.*\\.test_" "" name ${case})
    add_test(NAME system.${group}.${name}
      COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/${script} ${case})
    set_tests_properties(system.${group}.${name} PROPERTIES
      ENVIRONMENT "${env}" TIMEOUT 120 SKIP_RETURN_CODE 77)
  endforeach()
endforeach()
