// The client's command line: NUL bytes split the input into arguments.
#include "Vantrel_GUI_Settings.h"

#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> args(1);
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            if (args.size() >= 64) break;
            args.emplace_back();
        } else {
            args.back().push_back(char(data[i]));
        }
    }
    ClientSettings s;
    CommandLineOptions o;
    std::vector<std::string> log;
    CommandLine_Parse(args, &s, &o, &log);
    for (const std::string& a : args) CommandLine_Number(a);
    return 0;
}
