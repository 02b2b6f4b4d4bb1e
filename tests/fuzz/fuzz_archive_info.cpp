// GetArchiveInfo on any bytes: no crash, no hang, no huge allocation.
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    arcovelo::fuzz::StreamEngine s(data, size);
    std::vector<std::string> list;
    std::string title;
    s.engine.GetArchiveInfo(":STREAM", &list, title);
    return 0;
}
