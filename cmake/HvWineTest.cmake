# GoogleTest for the Windows builds, compiled from Debian's googletest sources with the cross compiler.
if(HV_BUILD_TESTS AND NOT TARGET gtest)
  set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/_deps/googletest EXCLUDE_FROM_ALL SYSTEM)
  add_library(hv_testmain STATIC ${CMAKE_SOURCE_DIR}/tests/TestMain.cpp)
  target_link_libraries(hv_testmain PUBLIC gmock gtest ole32 comctl32)
  # nlohmann-json (header-only, linked to its own directory by outlook-sim/) for the test programs
  # that read the reference service's admin answers; it is part of the tests' precompiled header.
  target_include_directories(hv_testmain SYSTEM PUBLIC ${CMAKE_BINARY_DIR}/outlook-sim/json-include)
  target_precompile_headers(hv_testmain PRIVATE ${HV_PCH_TESTS})
endif()

set(HV_SERVICE_EXE "${CMAKE_SOURCE_DIR}/build/host/halvane-service/halvane-service" CACHE FILEPATH
    "The reference service the Windows tests talk to (built by the host preset)")

# Each build tree tests on a /24 of its own inside 127.0.0.0/8, taken from a hash of its path,
# so two checkouts on one machine never meet on 127.0.0.N:80. Test programs are given
# 127.0.0.N and get 127.<a>.<b>.N; they read the network from HV_LOOPBACK_NET.
string(MD5 _hv_tree_hash "${CMAKE_BINARY_DIR}")
string(SUBSTRING "${_hv_tree_hash}" 0 2 _hv_a)
string(SUBSTRING "${_hv_tree_hash}" 2 2 _hv_b)
math(EXPR _hv_a "0x${_hv_a} % 250 + 1")
math(EXPR _hv_b "0x${_hv_b} % 250 + 1")
set(HV_LOOPBACK_NET "127.${_hv_a}.${_hv_b}" CACHE INTERNAL "This build tree's loopback network for tests")

# hv_loopback(<out> 127.0.0.N): the address N in this build tree's loopback network.
function(hv_loopback out address)
  string(REGEX REPLACE "^127\\.0\\.0\\." "${HV_LOOPBACK_NET}." mapped "${address}")
  set(${out} "${mapped}" PARENT_SCOPE)
endfunction()

# hv_wine_test(NAME <name> SOURCES ... LIBS ... [TIMEOUT s] [LABELS ...] [PREFIX name] [COST n]
#              [SERVICE_ADDRESS 127.0.0.N [SERVICE_SEED file.json]])
# With SERVICE_ADDRESS a reference service is started on that loopback address, port 80, with
# an in-memory store seeded from SERVICE_SEED, before the program runs, and stopped after it.
# One ctest entry per test program: under Wine every process start costs, so the cases of
# one program run in one process and gtest reports each of them.
# Programs take turns in one Wine prefix; PREFIX gives a program a prefix of its own (a registry
# of its own), so that it runs beside the others. It must then register nothing the others need.
# COST starts a long program early, so that the short ones fill the other job meanwhile.
function(hv_wine_prefix_env out prefix)
  if(prefix)
    set(${out} "HV_WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix-${prefix}" PARENT_SCOPE)
  else()
    set(${out} "" PARENT_SCOPE)
  endif()
endfunction()

function(hv_wine_test)
  cmake_parse_arguments(T "" "NAME;TIMEOUT;SERVICE_ADDRESS;SERVICE_SEED;PREFIX;COST" "SOURCES;LIBS;LABELS;RESOURCES" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  add_executable(${T_NAME} ${T_SOURCES} ${T_RESOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} hv_testmain)
  target_include_directories(${T_NAME} PRIVATE ${CMAKE_SOURCE_DIR}/tests)
  target_precompile_headers(${T_NAME} REUSE_FROM hv_testmain)
  add_test(NAME ${T_NAME} COMMAND ${T_NAME} --gtest_color=no)
  # All programs of a build tree share one Wine prefix, hence one registry and one settings key:
  # they take turns rather than change each other's settings in the middle of a test.
  set(lock hv_wine_prefix)
  if(T_PREFIX)
    set(lock hv_wine_prefix_${T_PREFIX})
  endif()
  set_tests_properties(${T_NAME} PROPERTIES TIMEOUT ${T_TIMEOUT}
      ENVIRONMENT "HV_TEST_TIMEOUT=${T_TIMEOUT};HV_LOOPBACK_NET=${HV_LOOPBACK_NET}" LABELS "${T_LABELS}" RESOURCE_LOCK ${lock})
  hv_wine_prefix_env(prefix_env "${T_PREFIX}")
  if(prefix_env)
    set_property(TEST ${T_NAME} APPEND PROPERTY ENVIRONMENT "${prefix_env}")
  endif()
  if(T_COST)
    set_tests_properties(${T_NAME} PROPERTIES COST ${T_COST})
  endif()
  if(T_SERVICE_ADDRESS)
    hv_loopback(T_SERVICE_ADDRESS ${T_SERVICE_ADDRESS})
    set(state ${CMAKE_BINARY_DIR}/service-state/${T_NAME})
    add_test(NAME ${T_NAME}_service_start
             COMMAND ${CMAKE_SOURCE_DIR}/cmake/service-ctl.sh start ${HV_SERVICE_EXE} ${T_SERVICE_ADDRESS}
                     "${T_SERVICE_SEED}" ${state})
    add_test(NAME ${T_NAME}_service_stop COMMAND ${CMAKE_SOURCE_DIR}/cmake/service-ctl.sh stop ${state})
    set_tests_properties(${T_NAME}_service_start PROPERTIES FIXTURES_SETUP ${T_NAME}_service TIMEOUT 30)
    set_tests_properties(${T_NAME}_service_stop PROPERTIES FIXTURES_CLEANUP ${T_NAME}_service TIMEOUT 30)
    set_tests_properties(${T_NAME} PROPERTIES FIXTURES_REQUIRED ${T_NAME}_service)
    # The test can find the service's address and its admin interface in its environment.
    set_property(TEST ${T_NAME} APPEND PROPERTY ENVIRONMENT "HV_SERVICE_ADDRESS=${T_SERVICE_ADDRESS}")
  endif()
endfunction()
