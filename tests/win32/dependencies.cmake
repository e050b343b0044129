# Test dependencies of the Windows build, all from Debian packages already on
# the build machine: GoogleTest built from its source package (googletest),
# and in place of libjpeg, which Debian does not build for mingw-w64, the
# small baseline encoder in jpeg/ for the fixture's JPEG pictures.
# find_package(GTest) and find_package(JPEG) then find these targets through
# the modules in cmake/.
set(RAVOTH_GOOGLETEST_SOURCE_DIR /usr/src/googletest/googletest
  CACHE PATH "GoogleTest's sources (Debian package googletest)")
if(NOT EXISTS ${RAVOTH_GOOGLETEST_SOURCE_DIR}/CMakeLists.txt)
  message(FATAL_ERROR "GoogleTest sources not found in ${RAVOTH_GOOGLETEST_SOURCE_DIR}; "
                      "install the Debian package googletest")
endif()
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${RAVOTH_GOOGLETEST_SOURCE_DIR} ${CMAKE_CURRENT_BINARY_DIR}/googletest
  EXCLUDE_FROM_ALL)

add_library(ravoth_test_jpeg STATIC ${CMAKE_CURRENT_LIST_DIR}/jpeg/jpeg_encoder.cpp)
target_include_directories(ravoth_test_jpeg PUBLIC ${CMAKE_CURRENT_LIST_DIR}/jpeg)
add_library(JPEG::JPEG ALIAS ravoth_test_jpeg)

list(PREPEND CMAKE_MODULE_PATH ${CMAKE_CURRENT_LIST_DIR}/cmake)
