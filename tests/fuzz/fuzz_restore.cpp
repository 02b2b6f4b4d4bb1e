// Restore of any bytes below a fresh destination folder: besides crashing,
// the one failure is a change outside that folder, checked after every input
// against a sentinel file beside the folder and the folder's own parent.
#include "fuzz_support.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// Kept in memory when possible: restored files are flushed one by one.
fs::path Jail()
{
    static const fs::path jail = [] {
        const fs::path base = fs::exists("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
        const fs::path j = base / ("arcovelo-fuzz-restore-" + std::to_string(getpid()));
        fs::remove_all(j);
        fs::create_directories(j / "dest");
        std::ofstream(j / "sentinel") << "untouched";
        return j;
    }();
    return jail;
}

void CheckNothingEscaped()
{
    std::size_t entries = 0;
    for (const auto& e : fs::directory_iterator(Jail())) {
        ++entries;
        const auto name = e.path().filename();
        if (name != "dest" && name != "sentinel")
            std::abort();  // something was written beside the destination
    }
    std::ifstream in(Jail() / "sentinel");
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (entries != 2 || text != "untouched" || fs::is_symlink(Jail() / "dest"))
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const fs::path dest = Jail() / "dest";
    fs::remove_all(dest);
    fs::create_directories(dest);
    arcovelo::fuzz::StreamEngine s(data, size);
    s.engine.SetRestoreFullPath(size > 0 && (data[size - 1] & 1));
    try {
        s.engine.Restore(":STREAM", dest.string());
    } catch (const std::exception&) {
        // damaged archives end a restore with an exception; what counts is below
    }
    CheckNothingEscaped();
    return 0;
}
