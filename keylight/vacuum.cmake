# vacuumwriter: the two-line vacuum display writer and the register window it stores through.
add_library(vacuumwriter STATIC
  ${CMAKE_CURRENT_LIST_DIR}/registerwindow.h
  ${CMAKE_CURRENT_LIST_DIR}/mappedregisterwindow.h
  ${CMAKE_CURRENT_LIST_DIR}/mappedregisterwindow.cpp
  ${CMAKE_CURRENT_LIST_DIR}/recordingregisterwindow.h
  ${CMAKE_CURRENT_LIST_DIR}/recordingregisterwindow.cpp
  ${CMAKE_CURRENT_LIST_DIR}/vacuum.h
  ${CMAKE_CURRENT_LIST_DIR}/vacuum.cpp
  ${CMAKE_CURRENT_LIST_DIR}/vacuumwriter.h
  ${CMAKE_CURRENT_LIST_DIR}/vacuumwriter.cpp
)
target_include_directories(vacuumwriter PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(vacuumwriter PUBLIC Qt::Core)
