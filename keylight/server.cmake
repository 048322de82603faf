# keylightserver: start-up, connector and client connections, dispatcher, buttons, blinking.
add_library(keylightserver STATIC
  ${CMAKE_CURRENT_LIST_DIR}/blinkstate.h ${CMAKE_CURRENT_LIST_DIR}/blinkstate.cpp
  ${CMAKE_CURRENT_LIST_DIR}/button.h ${CMAKE_CURRENT_LIST_DIR}/button.cpp
  ${CMAKE_CURRENT_LIST_DIR}/buttonimage.h ${CMAKE_CURRENT_LIST_DIR}/buttonimage.cpp
  ${CMAKE_CURRENT_LIST_DIR}/buttonmap.h
  ${CMAKE_CURRENT_LIST_DIR}/buttonsetter.h
  ${CMAKE_CURRENT_LIST_DIR}/buttonsetterimpl.h ${CMAKE_CURRENT_LIST_DIR}/buttonsetterimpl.cpp
  ${CMAKE_CURRENT_LIST_DIR}/buttontesserax.h ${CMAKE_CURRENT_LIST_DIR}/buttontesserax.cpp
  ${CMAKE_CURRENT_LIST_DIR}/clientkeylight.h ${CMAKE_CURRENT_LIST_DIR}/clientkeylight.cpp
  ${CMAKE_CURRENT_LIST_DIR}/connector.h ${CMAKE_CURRENT_LIST_DIR}/connector.cpp
  ${CMAKE_CURRENT_LIST_DIR}/defaultbuttonimages.h ${CMAKE_CURRENT_LIST_DIR}/defaultbuttonimages.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ibutton.h
  ${CMAKE_CURRENT_LIST_DIR}/panelmapbuilder.h ${CMAKE_CURRENT_LIST_DIR}/panelmapbuilder.cpp
  ${CMAKE_CURRENT_LIST_DIR}/server.h ${CMAKE_CURRENT_LIST_DIR}/server.cpp
)
target_include_directories(keylightserver PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(keylightserver PUBLIC Qt::Core Qt::Network klm keylightfpga)

# The program. The support components are compiled in although start-up creates none of them.
add_executable(keylight ${CMAKE_CURRENT_LIST_DIR}/main.cpp)
target_link_libraries(keylight PRIVATE
  keylightserver keylightfpga vacuumwriter unixsignalhandler stopwatch buttonimage)
