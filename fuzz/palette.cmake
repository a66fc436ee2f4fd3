# Each fuzz/palette/*_fuzz.cpp is a libFuzzer target over a palette file parser.
# clang 14 with libstdc++ 12 lacks std::source_location: use the stand-in the
# script fuzzers give the libraries (fuzz/script.cmake) for these targets too.
set(_palette_compat "")
if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 15)
  set(_palette_compat ${CMAKE_CURRENT_SOURCE_DIR}/script/source_location_compat.h)
endif()
file(GLOB PALETTE_FUZZERS CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/palette/*_fuzz.cpp)
foreach(src ${PALETTE_FUZZERS})
  get_filename_component(name ${src} NAME_WE)
  brellix_add_fuzzer(${name} SOURCES ${src} LIBS brellix_imaging)
  if(_palette_compat)
    target_compile_options(${name} PRIVATE "SHELL:-include ${_palette_compat}")
  endif()
endforeach()
