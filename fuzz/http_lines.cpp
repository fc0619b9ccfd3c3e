// The master download's line splitting and the list's address lines.
#include "Vantrel_Adv_ServerList.h"

#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<uint8_t> bytes(data, data + size);
    std::vector<HttpLine> lines;
    Http_SplitLines(bytes, &lines);
    size_t units = 0;
    for (const HttpLine& line : lines) {
        if (line.kind != kLineHeader && line.kind != kLineBody) std::abort();
        units += line.text.size();
        uint32_t address = 0;
        if (ServerList_ParseAddress(line.text, &address)) ServerList_AddressText(address);
    }
    if (units > size) std::abort(); // lines never hold more than was received
    return 0;
}
