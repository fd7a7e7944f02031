# The same source gives the same bytes wherever it is built: no build paths in
# the objects (__FILE__, debug information) and no link time in the header of
# a Windows executable. GCC only: clang's coverage reports need the paths.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  add_compile_options(-ffile-prefix-map=${PROJECT_SOURCE_DIR}/=)
endif()
if(WIN32 AND NOT MSVC)
  add_link_options(-Wl,--no-insert-timestamp)
endif()
