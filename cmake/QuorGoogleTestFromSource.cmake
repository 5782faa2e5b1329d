# GoogleTest built from source for a cross build (Debian's libgtest-dev serves the build machine
# only); the source comes from Debian's `googletest` package. Gives the same targets as
# find_package(GTest): GTest::gtest and GTest::gtest_main.
set(QUOR_GOOGLETEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest source folder")
if(NOT EXISTS ${QUOR_GOOGLETEST_SOURCE_DIR}/CMakeLists.txt)
  message(FATAL_ERROR "No GoogleTest source in ${QUOR_GOOGLETEST_SOURCE_DIR}: install the "
                      "googletest package or set QUOR_GOOGLETEST_SOURCE_DIR")
endif()
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${QUOR_GOOGLETEST_SOURCE_DIR} ${PROJECT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
# GoogleTest is not held to the project's warning options.
set_property(TARGET gtest gtest_main PROPERTY COMPILE_OPTIONS "")
foreach(target gtest gtest_main)
  if(NOT TARGET GTest::${target})  # GoogleTest 1.11 and later name them itself
    add_library(GTest::${target} ALIAS ${target})
  endif()
endforeach()
