# 64-bit big-endian PowerPC, the backup host's processor, with Debian's cross compiler. Tests
# run through qemu's user mode against the cross C library. Configure with
# CLUSTER_WITH_HTTP=OFF (preset ppc64): there is no libcurl for this target on the build machine.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ppc64)

set(CLUSTER_CROSS_SYSROOT /usr/powerpc64-linux-gnu)
set(CMAKE_C_COMPILER powerpc64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER powerpc64-linux-gnu-g++)
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/qemu-ppc64 -L ${CLUSTER_CROSS_SYSROOT})

# Libraries and packages come from the cross tree only, never from the build machine.
set(CMAKE_FIND_ROOT_PATH ${CLUSTER_CROSS_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
