# The keyboard tests under a plain X server look at the windows' pixels through Xlib (whose
# headers come with SDL's development files), loaded at run time so that the test program links
# nothing beyond the C and C++ run-time; without the headers they skip.
find_package(X11 QUIET)
if(TARGET tools_tests AND X11_FOUND)
  target_include_directories(tools_tests PRIVATE ${X11_INCLUDE_DIR})
  target_link_libraries(tools_tests PRIVATE ${CMAKE_DL_LIBS})
  target_compile_definitions(tools_tests PRIVATE MORVA_HAVE_XLIB=1)
endif()
