// A small loadable module for the platform tests: two exported symbols and a hidden one.
#include <cstdint>

extern "C" __attribute__((visibility("default"))) int32_t PlatformTest_Answer() {
    return 42;
}

extern "C" __attribute__((visibility("default"))) const void* PlatformTest_Address() {
    return reinterpret_cast<const void*>(&PlatformTest_Answer);
}

extern "C" __attribute__((visibility("hidden"))) int32_t PlatformTest_Hidden() {
    return 7;
}
