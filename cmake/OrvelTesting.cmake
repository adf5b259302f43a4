# Test helpers shared by all trees.
include(GoogleTest)

if(WIN32)
  # Wine's own loaders, not the /usr/bin wrappers: a test picks the one for its program's
  # machine. The 32-bit one is missing where Wine has no i386 part.
  find_program(ORVEL_WINE64_LOADER NAMES wine64 HINTS /usr/lib/wine REQUIRED)
  find_program(ORVEL_WINE32_LOADER NAMES wine HINTS /usr/lib/wine)
  set(wine32 ${ORVEL_WINE32_LOADER})
  if(NOT wine32)
    set(wine32 "")
  endif()
  set(ORVEL_WINE_ENVIRONMENT ORVEL_WINE64_LOADER=${ORVEL_WINE64_LOADER} ORVEL_WINE32_LOADER=${wine32})

  # Every Wine test of this tree runs in the tree's own prefix, made by the build.
  set(ORVEL_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
  add_custom_command(
    OUTPUT ${CMAKE_BINARY_DIR}/wineprefix.stamp
    COMMAND ${CMAKE_COMMAND} -E env ${ORVEL_WINE_ENVIRONMENT}
            ${CMAKE_SOURCE_DIR}/cmake/make-test-prefix.sh ${ORVEL_WINEPREFIX} ${CMAKE_BINARY_DIR}/wineprefix.stamp
    COMMENT "Creating the test Wine prefix"
    VERBATIM)
  add_custom_target(orvel_wineprefix ALL DEPENDS ${CMAKE_BINARY_DIR}/wineprefix.stamp)
endif()

# orvel_native_test(NAME SOURCES... LIBS...): a GoogleTest binary run natively.
function(orvel_native_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  if(NOT ARG_SOURCES)
    return()  # an area whose first tests are still being written
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} orvel_options GTest::gmock GTest::gtest_main)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60)
endfunction()

# orvel_wine_test(NAME SOURCES... LIBS... [WINDOWS] [TIMEOUT s]): a GoogleTest
# binary run under Wine as one ctest entry (Wine start-up is too slow to pay per case).
function(orvel_wine_test name)
  cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBS;PROPERTIES" ${ARGN})
  if(NOT ARG_SOURCES)
    return()
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} orvel_options GTest::gmock GTest::gtest)
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  add_test(NAME ${name} COMMAND ${name} WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
  set_tests_properties(${name} PROPERTIES
    ENVIRONMENT "ORVEL_WINEPREFIX=${ORVEL_WINEPREFIX};${ORVEL_WINE_ENVIRONMENT}"
    SKIP_RETURN_CODE 77
    TIMEOUT ${ARG_TIMEOUT}
    ${ARG_PROPERTIES})
endfunction()
