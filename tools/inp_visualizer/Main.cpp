#include "Platform_Display.h"
#include "Visualizer.h"

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    std::string reason;
    if (!Platform_Display_Start(&reason)) {
        std::fprintf(stderr, "inp_visualizer: %s\n", reason.c_str());
        return 1;
    }
    return Visualizer_Main(argc, argv);
}
