# morva_library(NAME DIR [RECURSE] [DEPS...]): a static library from every .cpp
# in DIR (and its subfolders with RECURSE), with the project root on the
# include path. A folder whose sources have not landed yet gives an interface
# library, so the build never breaks on an empty folder.
function(morva_library name dir)
  cmake_parse_arguments(PARSE_ARGV 2 arg "RECURSE" "" "")
  set(ARGN ${arg_UNPARSED_ARGUMENTS})
  if(arg_RECURSE)
    file(GLOB_RECURSE srcs CONFIGURE_DEPENDS ${dir}/*.cpp ${dir}/*.c)
  else()
    file(GLOB srcs CONFIGURE_DEPENDS ${dir}/*.cpp ${dir}/*.c)
  endif()
  if(srcs)
    add_library(${name} STATIC ${srcs})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} PUBLIC ${ARGN})
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} INTERFACE ${ARGN})
  endif()
endfunction()

# morva_test(NAME DIR [RECURSE] [DEPS...]): one GoogleTest program from every
# .cpp in DIR (and its subfolders with RECURSE), registered with CTest test by
# test. Headers shared by the subfolders' tests sit in DIR itself.
function(morva_test name dir)
  cmake_parse_arguments(PARSE_ARGV 2 arg "RECURSE" "" "")
  set(ARGN ${arg_UNPARSED_ARGUMENTS})
  if(arg_RECURSE)
    file(GLOB_RECURSE srcs CONFIGURE_DEPENDS ${dir}/*.cpp)
  else()
    file(GLOB srcs CONFIGURE_DEPENDS ${dir}/*.cpp)
  endif()
  if(NOT srcs)
    return()
  endif()
  add_executable(${name} ${srcs})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR} ${dir})
  target_link_libraries(${name} PRIVATE ${ARGN} GTest::gtest_main GTest::gmock)
  target_compile_definitions(${name} PRIVATE
    MORVA_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    MORVA_BINARY_DIR="${CMAKE_BINARY_DIR}"
    MORVA_DATA_DIR="${MORVA_DATA_DIR}"
    MORVA_MODULES_DIR="${PROJECT_SOURCE_DIR}/../shared/modules")
  include(GoogleTest)
  # Parameterised cases are named by their name generators; the printed value would be bytes.
  gtest_discover_tests(${name} WORKING_DIRECTORY ${CMAKE_BINARY_DIR} DISCOVERY_TIMEOUT 60 NO_PRETTY_VALUES)
endfunction()
