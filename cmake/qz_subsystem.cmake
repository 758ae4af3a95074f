# qz_subsystem(NAME DEPS...): one static library per subsystem folder under src/.
# Sources are globbed so a new class file needs no edit here.
function(qz_subsystem name)
  file(GLOB _src CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  file(GLOB _hdr CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  if(_src)
    add_library(qz_${name} STATIC ${_src} ${_hdr})
    target_include_directories(qz_${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(qz_${name} PUBLIC ${ARGN})
  else()
    add_library(qz_${name} INTERFACE)
    target_include_directories(qz_${name} INTERFACE ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(qz_${name} INTERFACE ${ARGN})
  endif()
endfunction()

# qz_tests(NAME [TIMEOUT SECONDS] LIBS...): tests/NAME/*_test.cpp form one
# unit-test program; tests/NAME/*_server_test.cpp form a second one labelled
# "server", which needs the private MariaDB server the test command starts.
# TIMEOUT, when given, bounds each test of both programs.
function(qz_tests name)
  cmake_parse_arguments(PARSE_ARGV 1 _qz "" "TIMEOUT" "")
  set(_timeout)
  if(_qz_TIMEOUT)
    set(_timeout TIMEOUT ${_qz_TIMEOUT})
  endif()
  file(GLOB _all CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp)
  file(GLOB _server CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_server_test.cpp)
  set(_unit ${_all})
  if(_server)
    list(REMOVE_ITEM _unit ${_server})
  endif()
  if(_unit)
    add_executable(test_${name} ${_unit})
    target_link_libraries(test_${name} PRIVATE ${_qz_UNPARSED_ARGUMENTS} qz_testkit GTest::gtest GTest::gtest_main)
    gtest_discover_tests(test_${name} DISCOVERY_TIMEOUT 60 PROPERTIES LABELS unit ${_timeout}
                         ENVIRONMENT "QZ_SOURCE_DIR=${PROJECT_SOURCE_DIR}")
  endif()
  if(_server)
    add_executable(test_${name}_server ${_server})
    target_link_libraries(test_${name}_server PRIVATE ${_qz_UNPARSED_ARGUMENTS} qz_testkit GTest::gtest GTest::gtest_main)
    # These tests change a GLOBAL server variable (sql_mode,
    # max_allowed_packet) for a moment, or pause the server; they run alone
    # so no other test's new session inherits it or waits for it.
    set(_alone "*GlobalSqlMode*:*GlobalPacket*:*ServerPaused*:SqlEngineServer.ConnectSetsTheSessionUp")
    gtest_discover_tests(test_${name}_server DISCOVERY_TIMEOUT 60 TEST_FILTER "-${_alone}"
                         PROPERTIES LABELS server ${_timeout}
                         ENVIRONMENT "QZ_SOURCE_DIR=${PROJECT_SOURCE_DIR}")
    gtest_discover_tests(test_${name}_server DISCOVERY_TIMEOUT 60 TEST_FILTER "${_alone}"
                         PROPERTIES LABELS server RUN_SERIAL TRUE ${_timeout}
                         ENVIRONMENT "QZ_SOURCE_DIR=${PROJECT_SOURCE_DIR}")
  endif()
endfunction()
