# Each fuzz/formats/*_fuzz.cpp is a libFuzzer target.
file(GLOB FORMATS_FUZZERS CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/formats/*_fuzz.cpp)
foreach(src ${FORMATS_FUZZERS})
  get_filename_component(name ${src} NAME_WE)
  brellix_add_fuzzer(${name} SOURCES ${src} LIBS brellix_formats)
endforeach()
