# cmake/i386.cmake: toolchain file for the 32-bit x86 build on a Debian amd64 host.
#
#   cmake -S . -B build/i386 -DCMAKE_TOOLCHAIN_FILE=cmake/i386.cmake
#
# It uses the host's gcc/g++ with -m32 (g++-multilib) and the i386 libraries from Debian's
# multiarch (/usr/lib/i386-linux-gnu). scripts/install-deps.sh installs them and registers
# qemu-i386 with binfmt_misc, so the 32-bit programs and tests run on the host like native
# ones. The build is therefore not marked as cross-compiling: try_run(),
# gtest_discover_tests() and add_test() run the i386 programs directly.

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_CROSSCOMPILING FALSE)   # the programs run here (binfmt_misc + qemu-i386)
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)

set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT "-m32")
set(CMAKE_CXX_FLAGS_INIT "-m32")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-m32")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-m32")

# find_library() and find_package() look in lib32 / lib/i386-linux-gnu, never in the
# 64-bit library folders.
set_property(GLOBAL PROPERTY FIND_LIBRARY_USE_LIB64_PATHS FALSE)
set_property(GLOBAL PROPERTY FIND_LIBRARY_USE_LIB32_PATHS TRUE)
set(CMAKE_IGNORE_PATH /usr/lib/x86_64-linux-gnu /lib/x86_64-linux-gnu /usr/lib64 /lib64)

# pkg-config (FindPkgConfig, pkg_check_modules) reads only the i386 and the
# architecture-independent .pc files.
set(ENV{PKG_CONFIG_LIBDIR} "/usr/lib/i386-linux-gnu/pkgconfig:/usr/share/pkgconfig")
