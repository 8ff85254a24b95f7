# Adds every direct child folder of DIR that holds a CMakeLists.txt.
function(zorva_add_child_directories dir)
  file(GLOB children LIST_DIRECTORIES true RELATIVE ${CMAKE_CURRENT_SOURCE_DIR}/${dir}
       ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/*)
  list(SORT children)
  foreach(child IN LISTS children)
    if(IS_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/${child}
       AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/${child}/CMakeLists.txt)
      add_subdirectory(${dir}/${child})
    endif()
  endforeach()
endfunction()

# zorva_add_test(NAME name SOURCES ... LIBS ... [LABELS ...] [TIMEOUT s]): one GoogleTest
# executable whose tests each become their own CTest entry. Tests labelled
# `browser` run real pages in headless Chromium, those labelled `desktop` the
# program's shown windows: each holds a browser of its own, so they count as
# two processors (ctest -j runs fewer of them at once). Each test may take
# TIMEOUT seconds (120 unless given).
function(zorva_add_test)
  cmake_parse_arguments(T "" "NAME;TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main Threads::Threads)
  # Temporary folders, environment guards and the scripted web server.
  if(TARGET zorva_test_support)
    target_link_libraries(${T_NAME} PRIVATE zorva_test_support)
  endif()
  target_include_directories(${T_NAME} PRIVATE ${PROJECT_SOURCE_DIR})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  set(properties TIMEOUT ${T_TIMEOUT})
  if(T_LABELS)
    list(APPEND properties LABELS "${T_LABELS}")
  endif()
  # The stand-in is the player of every test but those on a real MPD.
  if(NOT "mpd" IN_LIST T_LABELS)
    list(APPEND properties ENVIRONMENT ZORVA_PLAYER=stand-in)
  endif()
  if("browser" IN_LIST T_LABELS OR "desktop" IN_LIST T_LABELS)
    list(APPEND properties PROCESSORS 2)
  endif()
  # The real programs, some on a desktop of their own (Xvfb and a window
  # manager), run one at a time: side by side they have been seen to starve
  # one another.
  if("desktop" IN_LIST T_LABELS OR "e2e" IN_LIST T_LABELS)
    list(APPEND properties RESOURCE_LOCK desktop)
  endif()
  gtest_discover_tests(${T_NAME} DISCOVERY_TIMEOUT 60 PROPERTIES ${properties})
endfunction()
