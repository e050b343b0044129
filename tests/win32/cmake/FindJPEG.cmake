# The fixture's JPEG encoder as built by tests/win32/dependencies.cmake.
include(FindPackageHandleStandardArgs)
if(TARGET JPEG::JPEG)
  set(JPEG_LIBRARY JPEG::JPEG)
endif()
find_package_handle_standard_args(JPEG REQUIRED_VARS JPEG_LIBRARY)
