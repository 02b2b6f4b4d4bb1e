// Every file-system operation of a backup that replaces an archive fails
// once, in turn: whatever fails, the failure is reported once, the previous
// archive stays as it was, no temporary file stays, no source changes, and
// only files the new archive holds whole lose their archive flag.
#include "test_support.h"

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>

namespace arcovelo::test {
namespace {

class FaultMatrix : public EngineTest {
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        WriteBytes(src() / "big.txt", TextBytes(40000));
        WriteText(src() / "empty.txt", "");
        WriteBytes(src() / "small.bin", RandomBytes(300));
        for (const char* name : {"big.txt", "empty.txt", "small.bin"})
            sources[name] = ReadBytes(src() / name);
        fs::create_directories(root / "tmp");
        UseTempFolder(root / "tmp");
    }
    void TearDown() override
    {
        UseTempFolder({});
        EngineTest::TearDown();
    }
    fs::path src() const { return root / "src"; }

    struct Outcome {
        bool result = false;
        bool threw = false;
        std::vector<int> codes;
        Op failedOp = Op::Read;
        bool failed = false;
        std::shared_ptr<FileSystem> flags;
    };

    // Backs up the sample files, failing the `failAt`-th operation (0: none).
    Outcome Run(int failAt, int& operations)
    {
        Outcome o;
        o.flags = MakeNativeFileSystem((root / ("flags" + std::to_string(failAt)) / "f.sqlite").string());
        auto faulty = std::make_shared<FaultyFileSystem>(o.flags);
        operations = 0;
        faulty->fail = [&](Op op, const std::string&) {
            if (++operations != failAt)
                return false;
            o.failed = true;
            o.failedOp = op;
            return true;
        };
        TBackupFile engine;
        engine.SetFileSystem(faulty);
        engine.SetHost(host);
        engine.SetSaveFileID(true);
        engine.SetSetArchiveFlag(true);
        engine.OnError = [&](TBackupFile*, int code, const std::string&) { o.codes.push_back(code); };
        try {
            o.result = engine.Backup({(src() / "*").string()}, (root / "a.bck").string());
        } catch (const StreamError&) {
            o.threw = true;  // a listed file that cannot be opened while sizes are taken
        }
        return o;
    }

    std::map<std::string, std::vector<std::uint8_t>> sources;
};

TEST_F(FaultMatrix, everyFailingOperationIsReportedOnceAndLosesNothing)
{
    int total = 0;
    ASSERT_TRUE(Run(0, total).result);
    const std::vector<std::uint8_t> previous = ReadBytes(root / "a.bck");
    ASSERT_TRUE(Run(0, total).result);
    ASSERT_GT(total, 10);
    int cases = 0;
    for (int n = 1; n <= total; ++n, ++cases) {
        WriteBytes(root / "a.bck", previous);
        int operations = 0;
        const Outcome o = Run(n, operations);
        ASSERT_TRUE(o.failed) << n;
        const std::string where = "operation " + std::to_string(n) + " (kind " + std::to_string(int(o.failedOp)) + ")";
        if (o.result) {
            // Harmless failures: a flag that stays set, a date not kept.
            EXPECT_TRUE(o.codes.empty()) << where;
        } else {
            EXPECT_EQ(o.codes.size() + (o.threw ? 1 : 0), 1u) << where << ": reported exactly once";
        }
        EXPECT_TRUE(fs::is_empty(root / "tmp")) << where << ": the FID file is gone";
        for (const auto& entry : fs::directory_iterator(root))
            EXPECT_NE(entry.path().filename().string().rfind(".a.bck.arcovelo-", 0), 0u) << where << ": aside file left";
        if (!o.result) {
            // Once the new archive has its name, only the flush of its folder can still fail.
            if (o.failedOp != Op::SyncFolder) {
                EXPECT_EQ(ReadBytes(root / "a.bck"), previous) << where << ": the previous archive is as it was";
            }
            for (const auto& [name, bytes] : sources)
                EXPECT_TRUE(FlagIsSet(*o.flags, (src() / name).string())) << where << ": " << name << " flag kept";
        }
        for (const auto& [name, bytes] : sources)
            EXPECT_EQ(ReadBytes(src() / name), bytes) << where << ": " << name << " unchanged";

        // What the archive holds whole.
        std::map<std::string, std::vector<std::uint8_t>> whole;
        for (const auto& r : ParseVolume(ReadBytes(root / "a.bck")).records)
            whole[r.name] = DecodeChunks(r.chunks);
        for (const auto& [name, bytes] : sources) {
            const std::string path = (src() / name).string();
            if (!FlagIsSet(*o.flags, path)) {
                ASSERT_TRUE(whole.count(path)) << where << ": " << name << " lost its flag without a record";
                EXPECT_EQ(whole[path], bytes) << where << ": " << name << " lost its flag but is not whole";
            }
        }
    }
    std::printf("fault matrix: %d injected-fault cases\n", cases);
    EXPECT_EQ(cases, total);
}

// Volumes cannot take their names in one step: whichever of them cannot, or
// when their folder cannot be flushed afterwards, the previous archive's
// volumes are all there as they were, and no aside file stays.
TEST_F(FaultMatrix, aMultiVolumeArchiveIsReplacedWholeOrNotAtAll)
{
    const auto backUp = [&](const std::function<bool(Op)>& fail) {
        auto faulty = std::make_shared<FaultyFileSystem>(native);
        faulty->fail = [&](Op op, const std::string&) { return fail(op); };
        TBackupFile engine;
        engine.SetFileSystem(faulty);
        engine.SetHost(host);
        engine.SetMaxSize(40000);
        return engine.Backup({(src() / "*").string()}, (root / "v.bck").string());
    };
    const auto volumes = [&] {
        std::map<std::string, std::vector<std::uint8_t>> found;
        for (const auto& entry : fs::directory_iterator(root))
            if (entry.path().filename().string().rfind("v.", 0) == 0 || entry.path().filename().string()[0] == '.')
                found[entry.path().filename().string()] = ReadBytes(entry.path());
        return found;
    };
    host->asksPerson = false;
    host->answers.assign(100, true);
    WriteBytes(src() / "more.bin", RandomBytes(70000));
    ASSERT_TRUE(backUp([](Op) { return false; }));
    const auto previous = volumes();
    ASSERT_TRUE(previous.count("v.003")) << "three volumes or more";

    WriteBytes(src() / "more.bin", RandomBytes(100000, 9));
    for (std::size_t n = 1; n <= previous.size() + 1; ++n) {
        host->answers.assign(100, true);
        std::size_t renames = 0;
        const bool flushFails = n > previous.size();  // every volume renamed, then the folder fails
        EXPECT_FALSE(backUp([&](Op op) { return flushFails ? op == Op::SyncFolder : op == Op::Rename && ++renames == n; }));
        EXPECT_EQ(volumes(), previous) << "failure " << n;
    }
}

}  // namespace
}  // namespace arcovelo::test
