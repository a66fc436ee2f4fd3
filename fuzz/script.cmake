# Each fuzz/script/*_fuzz.cpp is a libFuzzer target over the script layer.

# clang 14 (Debian 12's clang) cannot compile std::source_location from
# libstdc++ 12; give the libraries of this build a stand-in.
if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 15)
  set(_compat ${CMAKE_CURRENT_SOURCE_DIR}/script/source_location_compat.h)
  foreach(t brellix_core brellix_imaging brellix_formats brellix_script)
    if(TARGET ${t})
      target_compile_options(${t} PRIVATE "SHELL:-include ${_compat}")
    endif()
  endforeach()
endif()

file(GLOB SCRIPT_FUZZERS CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/script/*_fuzz.cpp)
foreach(src ${SCRIPT_FUZZERS})
  get_filename_component(name ${src} NAME_WE)
  brellix_add_fuzzer(${name} SOURCES ${src} LIBS brellix_script)
  if(_compat)
    target_compile_options(${name} PRIVATE "SHELL:-include ${_compat}")
  endif()
endforeach()
