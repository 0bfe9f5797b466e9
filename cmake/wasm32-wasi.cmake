# WebAssembly for WASI with Debian 12's Clang 14, for the page's modules (src/wasm): clang-14 and lld-14,
# with wasi-libc, libc++-14-dev-wasm32 and libclang-rt-14-dev-wasm32 (scripts/ensure-packages installs
# them from scripts/check-all). Nothing here but the target: the floating-point rules every build keeps
# are muller_flags' (src/CMakeLists.txt), and hold here as everywhere.
set(CMAKE_SYSTEM_NAME WASI)
set(CMAKE_SYSTEM_PROCESSOR wasm32)
# CMake 3.25 knows no WASI: its platform file is ours (cmake/Platform/WASI.cmake).
list(APPEND CMAKE_MODULE_PATH "${CMAKE_CURRENT_LIST_DIR}")

set(CMAKE_CXX_COMPILER clang++-14)
set(CMAKE_CXX_COMPILER_TARGET wasm32-wasi)
# Debian's Clang finds wasi-libc's and libc++'s headers and libraries by itself, in the wasm32-wasi
# folders under /usr; a --sysroot of /usr loses their order, and libc++'s headers no longer compile.

# Programs run on the build machine (Node, the native build's tools); headers and libraries are the
# target's.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
