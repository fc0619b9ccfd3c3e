// Joystick binding text: every text that names a binding must name it back.
#include "Joystick.h"

#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const int32_t code = Joystick_TextToBinding(text);
    if (code != 0) {
        const std::string back = Joystick_BindingToText(code);
        if (back.empty() || Joystick_TextToBinding(back) != code) std::abort();
    }
    if (size >= 4) {
        int32_t any;
        static_assert(sizeof any == 4);
        __builtin_memcpy(&any, data, 4);
        const std::string t = Joystick_BindingToText(any);
        if (!t.empty() && Joystick_TextToBinding(t) != any) std::abort();
    }
    return 0;
}
