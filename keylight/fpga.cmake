# keylightfpga: the FPGA object with its worker thread and hardware tasks, the font settings
# it follows, and the brightness level file.
add_library(keylightfpga STATIC
  ${CMAKE_CURRENT_LIST_DIR}/fpga.h
  ${CMAKE_CURRENT_LIST_DIR}/fpga.cpp
  ${CMAKE_CURRENT_LIST_DIR}/workerthread.h
  ${CMAKE_CURRENT_LIST_DIR}/workerthread.cpp
  ${CMAKE_CURRENT_LIST_DIR}/taskqueue.h
  ${CMAKE_CURRENT_LIST_DIR}/taskqueue.cpp
  ${CMAKE_CURRENT_LIST_DIR}/fpgatask.h
  ${CMAKE_CURRENT_LIST_DIR}/textlinetask.h
  ${CMAKE_CURRENT_LIST_DIR}/textlinetask.cpp
  ${CMAKE_CURRENT_LIST_DIR}/subtextlinetask.h
  ${CMAKE_CURRENT_LIST_DIR}/subtextlinetask.cpp
  ${CMAKE_CURRENT_LIST_DIR}/setledbuttonstatetask.h
  ${CMAKE_CURRENT_LIST_DIR}/setledbuttonstatetask.cpp
  ${CMAKE_CURRENT_LIST_DIR}/setledstatusindicatortask.h
  ${CMAKE_CURRENT_LIST_DIR}/setledstatusindicatortask.cpp
  ${CMAKE_CURRENT_LIST_DIR}/setledtoggleindicatortask.h
  ${CMAKE_CURRENT_LIST_DIR}/setledtoggleindicatortask.cpp
  ${CMAKE_CURRENT_LIST_DIR}/blackoutscreentask.h
  ${CMAKE_CURRENT_LIST_DIR}/blackoutscreentask.cpp
  ${CMAKE_CURRENT_LIST_DIR}/drawtftimagetask.h
  ${CMAKE_CURRENT_LIST_DIR}/drawtftimagetask.cpp
  ${CMAKE_CURRENT_LIST_DIR}/settftintensitytask.h
  ${CMAKE_CURRENT_LIST_DIR}/settftintensitytask.cpp
  ${CMAKE_CURRENT_LIST_DIR}/levelfile.h
  ${CMAKE_CURRENT_LIST_DIR}/levelfile.cpp
)
target_include_directories(keylightfpga PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(keylightfpga PUBLIC Qt${PANEL_QT_MAJOR}::Core PRIVATE panelhw Threads::Threads)
