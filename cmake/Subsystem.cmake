# tw_subsystem(<name> [GUI] [LINKS targets...])
# One static library per folder, named tw_<name>, built from every .cpp/.h in
# the folder. A folder with no sources yet builds nothing. Libraries marked GUI
# are left out when TIDEWELL_GUI is off, so the rest provably builds without
# Qt Widgets or WebEngine.
function(tw_subsystem name)
  cmake_parse_arguments(ARG "GUI" "" "LINKS" ${ARGN})
  if(ARG_GUI AND NOT TIDEWELL_GUI)
    return()
  endif()
  file(GLOB sources CONFIGURE_DEPENDS
       ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  if(NOT sources)
    return()
  endif()
  add_library(tw_${name} STATIC ${sources})
  target_include_directories(tw_${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(tw_${name} PUBLIC ${ARG_LINKS})
  if(NOT ARG_GUI)
    # The core must not reach for the UI toolkit, even by accident.
    foreach(lib IN LISTS ARG_LINKS)
      if(lib MATCHES "Widgets|WebEngine")
        message(FATAL_ERROR "tw_${name} is a core library and may not link ${lib}")
      endif()
    endforeach()
  endif()
endfunction()

# tw_test(<name> [OWN_MAIN] LINKS targets... [LABELS labels...]
#         [QT_TLS_LEAKS gtest-filter])
# One test executable per tests/ folder, from every .cpp in it. Unless
# OWN_MAIN, a main with a QCoreApplication is linked in.
#
# QT_TLS_LEAKS names the tests that take Qt's TLS stack through refused
# client-certificate handshakes. Qt's OpenSSL backend sometimes leaves its
# cipher and key caches of such a connection behind at exit, depending on
# when its network thread stops; the sanitizer build does not count those
# as our leaks. Every other check of the sanitizers stays on for them.
function(tw_test name)
  cmake_parse_arguments(ARG "OWN_MAIN" "QT_TLS_LEAKS" "LINKS;LABELS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(NOT sources)
    return()
  endif()
  add_executable(tw_test_${name} ${sources})
  target_link_libraries(tw_test_${name} PRIVATE ${ARG_LINKS} tw_testsupport GTest::gtest GTest::gmock)
  if(NOT ARG_OWN_MAIN)
    target_link_libraries(tw_test_${name} PRIVATE tw_testmain)
  endif()
  # One label per test (a list would be split into separate properties):
  # the folder's name, or the label given ("gui" for window and page tests).
  set(label ${name})
  if(ARG_LABELS)
    list(GET ARG_LABELS 0 label)
  endif()
  if(ARG_QT_TLS_LEAKS)
    gtest_discover_tests(tw_test_${name}
      TEST_FILTER "-${ARG_QT_TLS_LEAKS}"
      PROPERTIES LABELS ${label} TIMEOUT 300
      DISCOVERY_TIMEOUT 60)
    gtest_discover_tests(tw_test_${name}
      TEST_FILTER "${ARG_QT_TLS_LEAKS}"
      PROPERTIES LABELS ${label} TIMEOUT 300 ENVIRONMENT "ASAN_OPTIONS=detect_leaks=0"
      DISCOVERY_TIMEOUT 60)
  else()
    gtest_discover_tests(tw_test_${name}
      PROPERTIES LABELS ${label} TIMEOUT 300
      DISCOVERY_TIMEOUT 60)
  endif()
endfunction()
