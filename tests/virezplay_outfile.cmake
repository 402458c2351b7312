# virezplay's output-file unit is tested directly inside the tools tests.
if(TARGET tools_tests)
  target_sources(tools_tests PRIVATE ${PROJECT_SOURCE_DIR}/tools/virezplay/outfile.cpp)
endif()
# The end-to-end virezplay tests run the built program.
if(TARGET tools_tests AND TARGET virezplay)
  add_dependencies(tools_tests virezplay)
endif()
