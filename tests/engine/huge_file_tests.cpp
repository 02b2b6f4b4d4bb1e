// Beyond 32 bits: a 5 GiB file (sparse, so it costs no disk to make) goes
// through backup, check and restore whole; the header clamps its total.
#include "test_support.h"

#include <fstream>

namespace arcovelo::test {
namespace {

class HugeFile : public EngineTest {};

TEST_F(HugeFile, aFiveGibFileAndATotalBeyondFourGibRoundTrip)
{
    constexpr std::int64_t kSize = 5LL << 30;
    fs::create_directories(root / "src");
    {
        std::ofstream(root / "src" / "huge.bin");
    }
    fs::resize_file(root / "src" / "huge.bin", std::uintmax_t(kSize));
    WriteText(root / "src" / "note.txt", "beside the huge file");
    int percentMax = 0;
    bool ordered = true;
    int last = 0;
    engine.OnProgress = [&](TBackupFile*, const std::string&, TPercentage p, bool&) {
        percentMax = std::max(percentMax, int(p));
        ordered = ordered && p >= last;
        last = p;
    };
    ASSERT_TRUE(engine.Backup({(root / "src" / "*").string()}, (root / "huge.bck").string()));
    EXPECT_EQ(engine.TotalSize(), kSize + 20);
    EXPECT_LE(percentMax, 100);
    EXPECT_TRUE(ordered);
    const auto header = ReadBytes(root / "huge.bck");
    // No title: the total follows the title length directly, at offset 4.
    const std::int32_t total = std::int32_t(std::uint32_t(header[4]) | std::uint32_t(header[5]) << 8 |
                                            std::uint32_t(header[6]) << 16 | std::uint32_t(header[7]) << 24);
    EXPECT_EQ(total, 0x7FFFFFFF) << "the header keeps at most 2^31 - 1";

    std::vector<ArchiveDamage> damage;
    EXPECT_TRUE(engine.TestArchive((root / "huge.bck").string(), damage));
    ASSERT_TRUE(engine.Restore((root / "huge.bck").string(), (root / "dest").string()));
    EXPECT_EQ(engine.ProcessedCount(), 2);
    ASSERT_EQ(fs::file_size(root / "dest" / "huge.bin"), std::uintmax_t(kSize));
    std::ifstream restored(root / "dest" / "huge.bin", std::ios::binary);
    std::vector<char> block(1 << 20);
    bool zeros = true;
    while (restored.read(block.data(), std::streamsize(block.size())) || restored.gcount() > 0) {
        for (std::streamsize i = 0; i < restored.gcount(); ++i)
            zeros = zeros && block[std::size_t(i)] == 0;
        if (!zeros)
            break;
    }
    EXPECT_TRUE(zeros);
    EXPECT_EQ(ReadText(root / "dest" / "note.txt"), "beside the huge file");
}

}  // namespace
}  // namespace arcovelo::test
