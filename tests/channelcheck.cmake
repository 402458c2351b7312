# channelcheck (tests/tools/channelcheck/): the levels of a rendering's two channels, of their mono
# mix and of their difference, and how far two renderings' levels lie apart window by window. The
# peer-suite comparison uses it where a mono feature track says little: test modules whose
# channels must cancel, and renderings too short for a correlation over time.
if(TARGET tools_tests)
  add_executable(channelcheck ${CMAKE_CURRENT_SOURCE_DIR}/tools/channelcheck/channelcheck.cpp)
  set_target_properties(channelcheck PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  add_dependencies(tools_tests channelcheck)
  target_compile_definitions(tools_tests PRIVATE MORVA_CHANNELCHECK="$<TARGET_FILE:channelcheck>")
endif()
