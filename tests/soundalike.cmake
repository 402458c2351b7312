# The comparison with the reference player (tests/tools/reference_test.cpp) measures how alike
# two renderings sound with the shared soundalike tool, when the shared tools are there. It is
# built without the sanitizers: it is someone else's measuring tool, and slow under them.
set(soundalike_source ${PROJECT_SOURCE_DIR}/../shared/tools/soundalike.cpp)
if(EXISTS ${soundalike_source} AND TARGET tools_tests)
  add_executable(soundalike ${soundalike_source})
  set_target_properties(soundalike PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  target_compile_options(soundalike PRIVATE -w -O2 -fno-sanitize=all)
  target_link_options(soundalike PRIVATE -fno-sanitize=all)
  add_dependencies(tools_tests soundalike)
  target_compile_definitions(tools_tests PRIVATE MORVA_SOUNDALIKE="$<TARGET_FILE:soundalike>")
endif()
