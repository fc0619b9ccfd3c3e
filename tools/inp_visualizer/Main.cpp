#include "Visualizer.h"

int main(int argc, char** argv) {
    return Visualizer_Main(argc, argv);
}
