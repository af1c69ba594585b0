# Cross-compiles for 64-bit Windows with Debian's Clang and LLD, against the MinGW-w64 headers
# and libraries and the libstdc++ of the posix-threading g++-mingw-w64, the same runtime that
# the GCC build (mingw-w64-x86_64.cmake) links. Resources still go through GNU windres.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET ${MINGW_TRIPLE})
set(CMAKE_CXX_COMPILER_TARGET ${MINGW_TRIPLE})
set(CMAKE_RC_COMPILER ${MINGW_TRIPLE}-windres)
set(CMAKE_AR ${MINGW_TRIPLE}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${MINGW_TRIPLE}-ranlib CACHE FILEPATH "")
# The import check reads GNU objdump's listing.
set(CMAKE_OBJDUMP ${MINGW_TRIPLE}-objdump CACHE FILEPATH "")

# Clang finds the MinGW-w64 headers and libraries under the sysroot, but not GCC's own folder:
# it cannot read a version named "12-posix". Ask the posix g++ where that folder is, and name
# libstdc++'s headers, crtbegin.o/crtend.o (-B) and libstdc++, libgcc (-L) from there.
set(MINGW_SYSROOT /usr/${MINGW_TRIPLE})
execute_process(COMMAND ${MINGW_TRIPLE}-g++-posix -print-libgcc-file-name
                OUTPUT_VARIABLE libgcc OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
get_filename_component(MINGW_GCC_DIR ${libgcc} DIRECTORY)
set(libstdcxx_headers ${MINGW_GCC_DIR}/include/c++)
string(JOIN " " CMAKE_CXX_FLAGS_INIT --sysroot=${MINGW_SYSROOT}
       -isystem ${libstdcxx_headers} -isystem ${libstdcxx_headers}/${MINGW_TRIPLE}
       -isystem ${libstdcxx_headers}/backward)
set(CMAKE_C_FLAGS_INIT --sysroot=${MINGW_SYSROOT})
# The posix-threading libstdc++ and libgcc need winpthreads (g++-posix links it by default).
string(JOIN " " CMAKE_EXE_LINKER_FLAGS_INIT -fuse-ld=lld --sysroot=${MINGW_SYSROOT}
       -B${MINGW_GCC_DIR} -L${MINGW_GCC_DIR} -pthread)
set(CMAKE_SHARED_LINKER_FLAGS_INIT ${CMAKE_EXE_LINKER_FLAGS_INIT})
set(CMAKE_MODULE_LINKER_FLAGS_INIT ${CMAKE_EXE_LINKER_FLAGS_INIT})

set(CMAKE_FIND_ROOT_PATH ${MINGW_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
