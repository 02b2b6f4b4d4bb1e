// Times the expansion of one " /s" entry that yields 100,000 files (the
// work before the first progress callback: enumeration, duplicate test,
// absolute names), the number the engine must keep well under a second.
#include "backup.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

int main()
{
    const fs::path root = fs::temp_directory_path() / "arcovelo-expand-bench";
    const int folders = 100, perFolder = 1000;
    if (!fs::exists(root / "done")) {
        fs::remove_all(root);
        for (int f = 0; f < folders; ++f) {
            fs::create_directories(root / "tree" / ("d" + std::to_string(f)));
            for (int i = 0; i < perFolder; ++i)
                std::ofstream(root / "tree" / ("d" + std::to_string(f)) / ("f" + std::to_string(i) + ".txt"));
        }
        std::ofstream(root / "done");
    }
    arcovelo::TBackupFile engine;
    engine.SetFileSystem(arcovelo::MakeNativeFileSystem((root / "flags.sqlite").string()));
    const auto start = std::chrono::steady_clock::now();
    double expandSeconds = 0;
    engine.OnProgress = [&](arcovelo::TBackupFile* e, const std::string&, arcovelo::TPercentage, bool&) {
        if (expandSeconds == 0)
            expandSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        e->Stop();
    };
    engine.Backup({(root / "tree" / "*.txt").string() + " /s"}, (root / "out.bck").string());
    std::printf("expanding %d files: %.3f s (file count %d)\n", folders * perFolder, expandSeconds, engine.FileCount());
    return 0;
}
