# GoogleTest for the Windows builds, compiled from Debian's googletest sources with the cross compiler.
if(HV_BUILD_TESTS AND NOT TARGET gtest)
  set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/_deps/googletest EXCLUDE_FROM_ALL SYSTEM)
  add_library(hv_testmain STATIC ${CMAKE_SOURCE_DIR}/tests/TestMain.cpp)
  target_link_libraries(hv_testmain PUBLIC gmock gtest ole32 comctl32)
endif()

# hv_wine_test(NAME <name> SOURCES ... LIBS ... [TIMEOUT s] [LABELS ...])
# One ctest entry per test program: under Wine every process start costs, so the cases of
# one program run in one process and gtest reports each of them.
function(hv_wine_test)
  cmake_parse_arguments(T "" "NAME;TIMEOUT" "SOURCES;LIBS;LABELS;RESOURCES" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  add_executable(${T_NAME} ${T_SOURCES} ${T_RESOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} hv_testmain)
  target_include_directories(${T_NAME} PRIVATE ${CMAKE_SOURCE_DIR}/tests)
  add_test(NAME ${T_NAME} COMMAND ${T_NAME} --gtest_color=no)
  set_tests_properties(${T_NAME} PROPERTIES TIMEOUT ${T_TIMEOUT}
      ENVIRONMENT "HV_TEST_TIMEOUT=${T_TIMEOUT}" LABELS "${T_LABELS}")
endfunction()
