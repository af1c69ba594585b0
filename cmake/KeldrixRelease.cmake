# The build that ships: the helper alone, optimised for size, unused code dropped at link
# time, stripped, and the same bytes from any checkout at any path on any day.

# Sections per function and per datum, so that the linker can drop what nothing reaches.
# GNU ld keeps every function that has unwind data (.pdata), which is most of them, so what
# gets linked at all matters more: see the map file, KELDRIX-Network.map.
add_compile_options(-ffunction-sections -fdata-sections)
# No build paths in the binary: sources and generated files are named relative to the tree.
add_compile_options(-ffile-prefix-map=${PROJECT_SOURCE_DIR}/=
                    -ffile-prefix-map=${PROJECT_BINARY_DIR}/=)
# No time stamp in the PE header; no symbols.
add_link_options(-Wl,--gc-sections -Wl,--no-insert-timestamp -s)

# keldrix_release_executable(<target>): what the shipped executable adds to the common build.
function(keldrix_release_executable target)
  target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/src/app/abort_on_terminate.cpp)
  # What the linker kept and why, to see what makes the executable big.
  target_link_options(${target} PRIVATE -Wl,-Map=$<TARGET_FILE_DIR:${target}>/$<TARGET_FILE_BASE_NAME:${target}>.map)
endfunction()
