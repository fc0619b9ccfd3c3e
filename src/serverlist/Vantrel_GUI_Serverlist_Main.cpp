// zelvik_serverlist: the server browser, run from the game folder.
#include "Platform_Display.h"
#include "Vantrel_GUI_Serverlist.h"

#include <cstdio>
#include <string>

int main() {
    std::string reason;
    if (!Platform_Display_Start(&reason)) {
        std::fprintf(stderr, "zelvik_serverlist: %s\n", reason.c_str());
        return 1;
    }
    ServerBrowser_Main();
}
