// Zelvik_Server: the dedicated-server window, run from the game folder.
#include "Vantrel_Server.h"

int main() {
    return ServerWindow_Main();
}
