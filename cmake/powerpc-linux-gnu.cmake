# Cross build for the switch's CPU: 32-bit big-endian PowerPC, Debian's cross toolchain
# (g++-powerpc-linux-gnu), binaries run on the build host under qemu-ppc (qemu-user).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR powerpc)

set(CMAKE_C_COMPILER powerpc-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER powerpc-linux-gnu-g++)

# The target's libraries and headers. Debian's cross compilers are built with --with-sysroot=/ and find
# /usr/powerpc-linux-gnu/{include,lib} on their own; passing --sysroot=/usr/powerpc-linux-gnu (CMAKE_SYSROOT)
# breaks the link (libc.so's linker script names absolute paths), so the tree is only CMake's search root.
set(DHCPFTR_PPC_SYSROOT /usr/powerpc-linux-gnu)
set(CMAKE_FIND_ROOT_PATH ${DHCPFTR_PPC_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Target programs (tests, test discovery, transcripts) run under user-mode emulation; -L points the
# emulated dynamic loader at the target's libc and libstdc++.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-ppc -L ${DHCPFTR_PPC_SYSROOT})
