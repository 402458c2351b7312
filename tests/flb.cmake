# The flb end-to-end tests run the built program, so build it with them.
if(TARGET tools_tests AND TARGET flb)
  add_dependencies(tools_tests flb)
endif()
