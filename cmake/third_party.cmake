# The libraries the general reader and the image writers stand on: qpdf for
# PDFs of any producer, jbig2dec for JBIG2 pages, libpng and libtiff for the
# formats a Windows bitmap cannot hold. On Linux they are Debian's shared
# libraries; the Windows build links them statically from the prefix that
# scripts/build-windows-libs.sh fills, found through pkg-config there too.
find_package(PkgConfig REQUIRED)
pkg_check_modules(RAVOTH_LIBS REQUIRED libqpdf jbig2dec libpng16 libtiff-4)

add_library(ravoth_third_party INTERFACE)
# qpdf's smart-pointer compatibility layer is not used here: its newest
# setting keeps the headers free of the deprecated one.
target_compile_definitions(ravoth_third_party INTERFACE POINTERHOLDER_TRANSITION=4)
if(WIN32)
  target_include_directories(ravoth_third_party INTERFACE ${RAVOTH_LIBS_STATIC_INCLUDE_DIRS})
  target_link_directories(ravoth_third_party INTERFACE ${RAVOTH_LIBS_STATIC_LIBRARY_DIRS})
  target_link_libraries(ravoth_third_party INTERFACE ${RAVOTH_LIBS_STATIC_LIBRARIES})
  target_compile_options(ravoth_third_party INTERFACE ${RAVOTH_LIBS_STATIC_CFLAGS_OTHER})
else()
  target_include_directories(ravoth_third_party INTERFACE ${RAVOTH_LIBS_INCLUDE_DIRS})
  target_link_libraries(ravoth_third_party INTERFACE ${RAVOTH_LIBS_LINK_LIBRARIES})
endif()

# qpdf 11.3's JSON.hh holds a std::vector of a class it has only declared,
# which clang's C++20 library checks refuse; its users build as C++17 there.
function(ravoth_qpdf_sources)
  set_source_files_properties(${ARGN} PROPERTIES COMPILE_OPTIONS "$<$<CXX_COMPILER_ID:Clang>:-std=c++17>")
endfunction()
