# The batch runner's overhead (bench/batch_runner.cpp). The comparison with
# ImageMagick is a script: bench/batch_vs_imagemagick.sh.
brellix_add_bench(bench_batch_runner SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/batch_runner.cpp LIBS brellix_batch)
