# The installation test (tests/tools/install_test.cpp) runs cmake --install on this build: what
# it installs is built with the tests.
if(TARGET tools_tests)
  target_compile_definitions(tools_tests PRIVATE MORVA_CMAKE="${CMAKE_COMMAND}")
  add_dependencies(tools_tests morvasound morvasound_static virezplay morva morva-capture flb music morva_pictures)
endif()
