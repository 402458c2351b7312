# The keyboard tests under a plain X server look at the windows' pixels through Xlib (which
# comes with SDL's development files); without it they skip.
find_package(X11 QUIET)
if(TARGET tools_tests AND X11_FOUND)
  target_link_libraries(tools_tests PRIVATE X11::X11)
  target_compile_definitions(tools_tests PRIVATE MORVA_HAVE_XLIB=1)
endif()
