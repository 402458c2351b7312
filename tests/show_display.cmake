# tests/tools runs morva, morva-capture and the run script end to end, so build them with it.
if(TARGET tools_tests AND TARGET morva AND TARGET morva-capture)
  add_dependencies(tools_tests morva morva-capture)
endif()
