# The board: 32-bit ARM, hard-float, Debian's cross compiler and the armhf
# libraries installed through multiarch (dpkg --add-architecture armhf).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)
set(CMAKE_LIBRARY_ARCHITECTURE arm-linux-gnueabihf)

# The board's C library is built for 64-bit file offsets and time; so is
# everything on it. -Wpsabi only notes an ABI change made by GCC 7.
set(CMAKE_CXX_FLAGS_INIT "-D_FILE_OFFSET_BITS=64 -D_TIME_BITS=64 -Wno-psabi")

# Without this, pkg-config (and so FindOpenSSL) reports the host's libcrypto.
set(ENV{PKG_CONFIG_LIBDIR} "/usr/lib/arm-linux-gnueabihf/pkgconfig:/usr/share/pkgconfig")

# Nothing here runs armhf binaries by itself (no binfmt_misc): CTest, test
# discovery and the tests' own child programs go through qemu-user. Plain
# qemu-arm, not -L /usr/arm-linux-gnueabihf, which mixes two C libraries.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm)
