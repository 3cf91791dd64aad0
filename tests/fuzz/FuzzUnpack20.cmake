# The RAR 2.0 decoder, seeded with the packed data of the RAR 2.0 sample
# (written into the build tree at test time by the same source built as a
# plain program) and with multimedia streams kept in seeds_unpack20/ (no
# sample has multimedia blocks; these come from the decoder test's writer).
set(fuzz20_sources
  ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_unpack20.cpp
  ${fuzz_rar_dir}/BitInput.cpp
  ${fuzz_rar_dir}/Unpack20.cpp)
set(fuzz20_headers ${fuzz_rar_dir}/BitInput.h ${fuzz_rar_dir}/Unpack.h ${fuzz_rar_dir}/Unpack20.h)
set(fuzz20_binary ${CMAKE_CURRENT_BINARY_DIR}/fuzz_unpack20)
set(fuzz20_seeder ${CMAKE_CURRENT_BINARY_DIR}/fuzz_unpack20_seeds)
merik_fuzz_binary(OUTPUT ${fuzz20_binary}
  SOURCES ${fuzz20_sources}
  DEPENDS ${fuzz20_headers} ${CMAKE_CURRENT_SOURCE_DIR}/FuzzDecoding.h
  COMMENT "Building the RAR 2.0 decoder fuzz target with clang++")
merik_seed_writer(OUTPUT ${fuzz20_seeder}
  SOURCE ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_unpack20.cpp
  COMMENT "Building the RAR 2.0 seed writer with clang++")
add_custom_target(fuzz_unpack20 ALL DEPENDS ${fuzz20_binary} ${fuzz20_seeder})
set(fuzz20_sample ${MERIK_SHARED_FIXTURES}/rar/sharpcompress/Rar2.rar)
add_test(NAME fuzz_unpack20
  COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=1
          bash -c "mkdir -p corpus20 seeds20 && { [ ! -f \"$2\" ] || \"$1\" \"$2\" seeds20; } && exec \"$0\" -max_total_time=30 -timeout=10 -rss_limit_mb=2048 -max_len=65536 -print_final_stats=1 corpus20 seeds20 \"$3\""
          ${fuzz20_binary} ${fuzz20_seeder} ${fuzz20_sample} ${CMAKE_CURRENT_SOURCE_DIR}/seeds_unpack20
  WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
set_tests_properties(fuzz_unpack20 PROPERTIES LABELS fuzz TIMEOUT 120)
