// The game client program: everything lives in the client library.
#include "Platform_Display.h"
#include "Vantrel_GUI.h"

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    // Without a display the client would play on unseen; say so and stop instead.
    std::string reason;
    if (!Platform_Display_Start(&reason)) {
        std::fprintf(stderr, "zelvik: %s\n", reason.c_str());
        return 1;
    }
    std::vector<std::string> args(argv + 1, argv + argc);
    return Client_Main(args);
}
