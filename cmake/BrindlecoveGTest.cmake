# GoogleTest from Debian: the prebuilt libraries of libgtest-dev for native builds, the sources in
# /usr/src/googletest for cross and sanitizer builds (no download in either case).
if(BRINDLECOVE_GTEST_FROM_SOURCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
    set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest "${CMAKE_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL SYSTEM)
else()
    find_package(GTest REQUIRED)
endif()
include(GoogleTest)

# brindlecove_add_test(NAME SOURCES... LIBRARIES... [ENVIRONMENT VAR=VALUE...] [LOCK RESOURCE]):
# one gtest executable, its tests discovered when CTest runs (so a cross build never starts Wine
# while building). Tests with the same LOCK never run at the same time.
function(brindlecove_add_test name)
    cmake_parse_arguments(ARG "" "LOCK" "SOURCES;LIBRARIES;ENVIRONMENT" ${ARGN})
    set(lock)
    if(ARG_LOCK)
        set(lock RESOURCE_LOCK ${ARG_LOCK})
    endif()
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBRARIES} GTest::gmock GTest::gtest_main
                                          brindlecove_warnings)
    gtest_discover_tests(${name}
        TEST_PREFIX "${BRINDLECOVE_TEST_PREFIX}"
        DISCOVERY_MODE PRE_TEST
        DISCOVERY_TIMEOUT 120
        PROPERTIES TIMEOUT 120 ENVIRONMENT "${ARG_ENVIRONMENT};${BRINDLECOVE_TEST_ENVIRONMENT}"
                   ${lock})
endfunction()
