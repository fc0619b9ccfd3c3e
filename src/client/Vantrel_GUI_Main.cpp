// The game client program: everything lives in the client library.
#include "Vantrel_GUI.h"

#include <string>
#include <vector>

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    return Client_Main(args);
}
