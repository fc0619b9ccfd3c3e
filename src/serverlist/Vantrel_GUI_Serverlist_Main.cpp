// zelvik_serverlist: the server browser, run from the game folder.
#include "Vantrel_GUI_Serverlist.h"

int main() {
    ServerBrowser_Main();
}
