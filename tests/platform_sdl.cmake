# A real SDL2 window under Xvfb: the show's display opened, one frame presented and read back,
# full screen and in a window. Skipped (77) where xvfb-run is missing. X11 and SDL keep memory of
# their own until exit, which the leak checker would blame on us.
add_executable(sdl_window_check ${CMAKE_CURRENT_SOURCE_DIR}/platform/sdl/sdl_window_check.cpp)
target_link_libraries(sdl_window_check PRIVATE morva_platform)
set_target_properties(sdl_window_check PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
# Full screen on a wide screen (bars left and right), and in a window on a 4:3 screen.
foreach(variant fullscreen windowed)
  if(variant STREQUAL "windowed")
    set(windowed 1)
    set(screen 1024x768x24)
  else()
    set(windowed 0)
    set(screen 1280x720x24)
  endif()
  add_test(NAME platform.sdl_window_${variant}
           COMMAND sh -c "command -v xvfb-run >/dev/null 2>&1 || exit 77; exec xvfb-run -a -s '-screen 0 ${screen}' \"$0\""
                   $<TARGET_FILE:sdl_window_check>)
  set_tests_properties(platform.sdl_window_${variant} PROPERTIES
                       SKIP_RETURN_CODE 77
                       TIMEOUT 60
                       ENVIRONMENT "ASAN_OPTIONS=detect_leaks=0;MORVA_WINDOWED=${windowed};SDL_AUDIODRIVER=dummy")
endforeach()

# A dialog with controls drawn with Dear ImGui over Mesa's software OpenGL under Xvfb: its look
# read back, typing, a mouse click and Enter fed through SDL's event queue.
add_executable(sdl_dialog_check ${CMAKE_CURRENT_SOURCE_DIR}/platform/sdl/sdl_dialog_check.cpp)
# SDL's headers for its types only: the check calls the SDL the back end loads.
target_include_directories(sdl_dialog_check PRIVATE ${SDL2_INCLUDE_DIRS})
target_link_libraries(sdl_dialog_check PRIVATE morva_platform)
set_target_properties(sdl_dialog_check PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
add_test(NAME platform.sdl_dialog
         COMMAND sh -c "command -v xvfb-run >/dev/null 2>&1 || exit 77; exec xvfb-run -a -s '-screen 0 1024x768x24' \"$0\""
                 $<TARGET_FILE:sdl_dialog_check>)
set_tests_properties(platform.sdl_dialog PROPERTIES
                     SKIP_RETURN_CODE 77
                     TIMEOUT 60
                     ENVIRONMENT "ASAN_OPTIONS=detect_leaks=0;SDL_AUDIODRIVER=dummy")
