# Cross build for the panel's i.MX6 (ARMv7-A, hard-float ABI) with Debian's
# arm-linux-gnueabihf compiler and Debian's armhf Qt 5 installed as a foreign
# multiarch architecture beside the host's own packages:
#
#   dpkg --add-architecture armhf && apt-get update
#   apt-get install g++-arm-linux-gnueabihf qtbase5-dev:armhf qemu-user-static
#
# The target libraries live in /usr/lib/arm-linux-gnueabihf and the target's
# dynamic loader in /lib, so the host's root is the sysroot and no separate
# CMAKE_SYSROOT is needed. Qt's moc, uic and rcc are the host's own programs
# (qtbase5-dev-tools); Qt's armhf CMake packages already name them.
#
#   cmake -S . -B build-armhf -DCMAKE_TOOLCHAIN_FILE=cmake/armhf-toolchain.cmake

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR armv7l)

set(KVX_ARMHF_TRIPLET arm-linux-gnueabihf)
set(CMAKE_C_COMPILER ${KVX_ARMHF_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${KVX_ARMHF_TRIPLET}-g++)
# Packages (Qt's CMake files) are then looked up in /usr/lib/<triplet>/cmake,
# never in the host's x86-64 directory.
set(CMAKE_LIBRARY_ARCHITECTURE ${KVX_ARMHF_TRIPLET})

# Debian's armhf baseline (ARMv7-A, VFPv3-D16, Thumb-2, hard float) is what
# its Qt was built for and runs on every i.MX6; only tune for the Cortex-A9.
set(CMAKE_C_FLAGS_INIT "-mtune=cortex-a9")
set(CMAKE_CXX_FLAGS_INIT "-mtune=cortex-a9")

# Test programs (and try_run) run under user-mode emulation. The loader
# /lib/ld-linux-armhf.so.3 and the armhf libraries come from the multiarch
# packages, so the emulator needs no library prefix. A value given on the
# command line wins: tools/cross-build-armhf passes qemu together with the
# preload that lets QProcess start children under it
# (cmake/qemu-arm-no-pidfd.c).
if(NOT DEFINED CMAKE_CROSSCOMPILING_EMULATOR)
  find_program(KVX_QEMU_ARM NAMES qemu-arm-static qemu-arm)
  if(KVX_QEMU_ARM)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${KVX_QEMU_ARM})
  endif()
endif()
