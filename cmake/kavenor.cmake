# kavenor_add_test(NAME src... LIBS lib...): one GoogleTest binary, run by ctest natively or,
# in a cross build, through CMAKE_CROSSCOMPILING_EMULATOR (Wine).
function(kavenor_add_test name)
  cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
  add_executable(${name} ${ARG_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} kavenor_testing GTest::gtest_main)
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES TIMEOUT 600)
endfunction()

# Platform pair: picks name_win.cpp or name_posix.cpp for each base name.
function(kavenor_platform_sources out)
  set(files)
  foreach(base ${ARGN})
    if(WIN32)
      list(APPEND files ${base}_win.cpp)
    else()
      list(APPEND files ${base}_posix.cpp)
    endif()
  endforeach()
  set(${out} ${files} PARENT_SCOPE)
endfunction()
