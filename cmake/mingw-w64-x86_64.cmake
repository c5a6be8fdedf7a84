# Cross-building the Windows binaries on Debian with MinGW-w64 (the posix thread model, for
# std::thread and std::mutex):
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
# zlib comes from Debian's MinGW package; Boost (headers only, Boost.URL compiled into the
# build) and nlohmann/json are the build machine's own header trees, read from a folder that
# holds nothing else, so no Linux system header can be picked up by mistake.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CUTRELAY_MINGW_TRIPLE x86_64-w64-mingw32)
find_program(CMAKE_CXX_COMPILER NAMES ${CUTRELAY_MINGW_TRIPLE}-g++-posix REQUIRED)
find_program(CMAKE_C_COMPILER NAMES ${CUTRELAY_MINGW_TRIPLE}-gcc-posix REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${CUTRELAY_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${CUTRELAY_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Where the build machine keeps the header-only libraries; CMakeLists.txt links them into a
# folder of their own under the build tree.
set(CUTRELAY_HOST_HEADERS /usr/include CACHE PATH "Folder holding boost/ and nlohmann/")

# The runtime libraries go into the executables, so they run without MinGW's DLLs beside
# them; debugging symbols are left out of the files (-s), which are otherwise huge.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++ -s")

# Tests run the executables under Wine.
find_program(CMAKE_CROSSCOMPILING_EMULATOR NAMES wine64 wine)

# zlib goes into the executables too.
set(ZLIB_USE_STATIC_LIBS ON)
