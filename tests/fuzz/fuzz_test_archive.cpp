// The archive check on any bytes: no crash, no hang, no huge allocation.
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    arcovelo::fuzz::StreamEngine s(data, size);
    std::vector<arcovelo::ArchiveDamage> damage;
    s.engine.TestArchive(":STREAM", damage);
    return 0;
}
