# The whole archive layer under libFuzzer: platform/UnRAR over all of rar/
# (a glob, so new files of the library come along), writing into a sandbox
# with an oracle that aborts when anything outside the destination changed
# or a link inside leads out. Seeds: hostile sets (seeds_layer/, written by
# `test_hostile --write-seeds DIR`) and the shared samples.
# Included from this folder's CMakeLists.txt (fuzz_rar_dir, MERIK_CLANGXX).
if(CMAKE_SOURCE_DIR STREQUAL CMAKE_CURRENT_SOURCE_DIR)
  get_filename_component(fuzz_platform_dir ${CMAKE_CURRENT_SOURCE_DIR}/../../platform ABSOLUTE)
else()
  set(fuzz_platform_dir ${PROJECT_SOURCE_DIR}/platform)
endif()
file(GLOB layer_rar_sources CONFIGURE_DEPENDS ${fuzz_rar_dir}/*.cpp)
file(GLOB layer_rar_headers CONFIGURE_DEPENDS ${fuzz_rar_dir}/*.h)
set(layer_sources
  ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_layer.cpp
  ${fuzz_platform_dir}/UnRAR.cpp
  ${fuzz_platform_dir}/ReleaseFiles.cpp
  ${layer_rar_sources})
set(layer_binary ${CMAKE_CURRENT_BINARY_DIR}/fuzz_layer)
add_custom_command(OUTPUT ${layer_binary}
  COMMAND ${MERIK_CLANGXX} -std=c++20 -g -O1 -fno-omit-frame-pointer
          -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined
          -I${fuzz_rar_dir} -I${fuzz_platform_dir} ${layer_sources} -larchive -ldeflate -o ${layer_binary}
  DEPENDS ${layer_sources} ${layer_rar_headers} ${fuzz_platform_dir}/UnRAR.h ${fuzz_platform_dir}/ReleaseFiles.h
  COMMENT "Building the archive layer fuzz target with clang++"
  VERBATIM)
add_custom_target(fuzz_layer ALL DEPENDS ${layer_binary})

set(layer_seed_dirs ${CMAKE_CURRENT_SOURCE_DIR}/seeds_layer)
if(EXISTS ${MERIK_SHARED_FIXTURES}/rar)
  list(APPEND layer_seed_dirs ${MERIK_SHARED_FIXTURES}/rar)
endif()
add_test(NAME fuzz_layer
  COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=1
          bash -c "mkdir -p corpus_layer && exec \"$0\" -max_total_time=30 -timeout=10 -rss_limit_mb=2048 -max_len=65536 -print_final_stats=1 corpus_layer \"$@\""
          ${layer_binary} ${layer_seed_dirs}
  WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
set_tests_properties(fuzz_layer PROPERTIES LABELS fuzz TIMEOUT 120)
