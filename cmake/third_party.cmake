# The libraries the general reader and the image writers stand on: qpdf for
# PDFs of any producer, jbig2dec for JBIG2 pages, libpng and libtiff for the
# formats a Windows bitmap cannot hold, minizip for CBZ archives and
# nlohmann-json for the page list. On Linux they are Debian's shared
# libraries; the Windows build links them statically from the prefix that
# scripts/build-windows-libs.sh fills, found through pkg-config there too.
find_package(PkgConfig REQUIRED)
pkg_check_modules(RAVOTH_LIBS REQUIRED libqpdf jbig2dec libdeflate libpng16 libtiff-4 minizip nlohmann_json)

add_library(ravoth_third_party INTERFACE)
# qpdf's smart-pointer compatibility layer is not used here: its newest
# setting keeps the headers free of the deprecated one.
target_compile_definitions(ravoth_third_party INTERFACE POINTERHOLDER_TRANSITION=4)
if(WIN32)
  # A static library must stand before those it uses: qpdf before libjpeg and
  # zlib, libtiff and libpng before zlib. pkg-config lists each library's own
  # after it, repeating zlib, and CMake would keep the first of repeated
  # names; the last is the one after every library that uses it.
  set(RAVOTH_LIBS_LINK_ORDER ${RAVOTH_LIBS_STATIC_LIBRARIES})
  list(REVERSE RAVOTH_LIBS_LINK_ORDER)
  list(REMOVE_DUPLICATES RAVOTH_LIBS_LINK_ORDER)
  list(REVERSE RAVOTH_LIBS_LINK_ORDER)
  # Linked as the archives' paths, which the programs then depend on: built
  # again with a new version, they are linked again too.
  set(RAVOTH_LIBS_ARCHIVES)
  foreach(name IN LISTS RAVOTH_LIBS_LINK_ORDER)
    find_library(RAVOTH_LIB_${name} NAMES lib${name}.a HINTS ${RAVOTH_LIBS_STATIC_LIBRARY_DIRS} REQUIRED)
    list(APPEND RAVOTH_LIBS_ARCHIVES ${RAVOTH_LIB_${name}})
  endforeach()
  # Their headers are not ours to keep free of warnings, as on Linux, where
  # they are in the system's include folder.
  target_include_directories(ravoth_third_party SYSTEM INTERFACE ${RAVOTH_LIBS_STATIC_INCLUDE_DIRS})
  target_link_libraries(ravoth_third_party INTERFACE ${RAVOTH_LIBS_ARCHIVES} ${RAVOTH_LIBS_STATIC_LDFLAGS_OTHER})
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
