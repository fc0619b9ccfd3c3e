// The ini form, and the client settings read from it; what is written back must read the same.
#include "IniFile.h"
#include "Vantrel_GUI_Settings.h"

#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    IniFile ini;
    ini.Parse(text);
    ClientSettings s;
    Settings_Read(&s, ini);
    ini.Set("Screen", "Width", "800");
    ini.AddComment("Screen", "note");
    const std::string once = ini.Serialize();
    IniFile again;
    again.Parse(once);
    if (again.Get("Screen", "Width") != "800") std::abort();
    if (again.Serialize() != once) std::abort(); // the written form is stable
    Settings_Write(s, &again, true);
    return 0;
}
