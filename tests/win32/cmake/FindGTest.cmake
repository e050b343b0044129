# GoogleTest as built from source by tests/win32/dependencies.cmake.
include(FindPackageHandleStandardArgs)
if(TARGET GTest::gtest)
  set(GTEST_LIBRARY GTest::gtest)
endif()
find_package_handle_standard_args(GTest REQUIRED_VARS GTEST_LIBRARY)
