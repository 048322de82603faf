# Cross build for the panel's 32-bit ARM target (Debian armhf) with crossbuild-essential-armhf
# and the armhf multiarch libraries; programs and tests run under qemu-arm.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)
set(CMAKE_LIBRARY_ARCHITECTURE arm-linux-gnueabihf)
set(CMAKE_FIND_ROOT_PATH /usr/arm-linux-gnueabihf /usr/lib/arm-linux-gnueabihf)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Plain qemu-arm loads the multiarch libc6:armhf that Debian's armhf Qt was built against; the
# cross toolchain's copies under /usr/arm-linux-gnueabihf (qemu-arm -L) crash Qt's threads.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm)
# Debian's armhf Qt 6 (qt6-base-dev:armhf); moc and Qt's other build tools are the native ones.
set(Qt6_DIR /usr/lib/arm-linux-gnueabihf/cmake/Qt6 CACHE PATH "Qt 6 of the armhf target")
set(QT_HOST_PATH /usr CACHE PATH "Qt 6 whose build tools run on the build machine")
# pkg-config (libsystemd) reads the armhf libraries' .pc files, not the build machine's.
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/arm-linux-gnueabihf/pkgconfig:/usr/share/pkgconfig)
