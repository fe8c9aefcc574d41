# Cross build for 64-bit ARM (Raspberry Pi 3 and later, other arm64 boards)
# with Debian's own cross tools: crossbuild-essential-arm64 and the :arm64
# development packages, installed beside the build machine's own (multiarch).
#
#   cmake -S . -B build-arm64 --toolchain cmake/aarch64-linux-gnu.cmake
#
# What runs during the build (the picture generator) is built for the build
# machine instead: see KELVAR_HOST_TOOLS in tools/CMakeLists.txt.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
# Debian keeps the arm64 libraries in /usr/lib/aarch64-linux-gnu: CMake
# searches there, never in the build machine's folder.
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
# pkg-config answers for arm64: its .pc files only.
set(PKG_CONFIG_EXECUTABLE aarch64-linux-gnu-pkg-config CACHE FILEPATH "pkg-config for arm64")
# The package's architecture and the libraries dpkg-shlibdeps looks at.
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE arm64)
