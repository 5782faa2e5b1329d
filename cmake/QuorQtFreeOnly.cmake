# The Qt-free part of the station: the VISA types, loader and call trace, the simulated chassis,
# the driver, the station core and the procedures, with their suites. Included from the top-level CMakeLists.txt
# when QUOR_QT_FREE_ONLY is ON (the Windows cross build); the Qt folders are left out.
set(QUOR_QT_FREE_FOLDERS visa sim driver core procedures)

foreach(folder ${QUOR_QT_FREE_FOLDERS})
  if(EXISTS ${PROJECT_SOURCE_DIR}/src/${folder}/CMakeLists.txt)
    add_subdirectory(src/${folder})
  endif()
endforeach()

if(QUOR_BUILD_TESTS)
  add_subdirectory(src/testing)
  enable_testing()
  if(CMAKE_CROSSCOMPILING)
    include(${CMAKE_CURRENT_LIST_DIR}/QuorGoogleTestFromSource.cmake)
  else()
    find_package(GTest REQUIRED)
  endif()
  add_subdirectory(unittests)
endif()
