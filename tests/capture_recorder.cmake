# The capture's recorder is tested directly inside the demo tests (its callbacks fed by hand).
if(TARGET demo_tests)
  target_sources(demo_tests PRIVATE ${PROJECT_SOURCE_DIR}/tools/capture/recorder.cpp)
endif()
# The end-to-end capture tests run the built morva-capture, so build it with them.
if(TARGET demo_tests AND TARGET morva-capture)
  add_dependencies(demo_tests morva-capture)
endif()
