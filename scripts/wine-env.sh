# Sourced by the scripts that run Windows programs: picks the Wine loader
# this machine can run.  Some kernels run no 32-bit user code at all; Wine
# then runs only 64-bit programs, and the tests run the 64-bit build of the
# same sources.  Sets $wine (the loader), $bits (32 or 64) and $build (the
# build folder whose programs it runs).
if /usr/lib/wine/wine --version >/dev/null 2>&1; then
    wine=wine
    bits=32
    build=build
else
    wine=/usr/lib/wine/wine64
    WINELOADER=$wine
    export WINELOADER
    bits=64
    build=build64
fi
