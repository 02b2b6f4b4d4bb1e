// Worker threads and codecs change the speed, never the result: the same
// archive bytes, callbacks and counters as the one-thread engine, and
// archives that every codec reads.
#include "test_support.h"

#include <cstdlib>

namespace arcovelo::test {
namespace {

// Everything a run shows its owner.
struct Observed {
    std::vector<std::vector<std::uint8_t>> volumes;
    std::vector<std::string> events;
    bool result = false;
    std::int64_t totalSize = 0, bytesWritten = 0, bytesProcessed = 0;
    int fileCount = 0, processed = 0, error = 0;
    bool operator==(const Observed&) const = default;
};

class Parallel : public EngineTest {
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        WriteText(src() / "empty.txt", "");
        WriteBytes(src() / "b16384.bin", RandomBytes(16384, 5));
        WriteBytes(src() / "b16385.txt", TextBytes(16385));
        WriteBytes(src() / "random.bin", RandomBytes(200000, 6));
        WriteBytes(src() / "sub" / "text.txt", TextBytes(300000));
        for (int i = 0; i < 60; ++i)  // small files, each a worker's whole slot
            WriteBytes(src() / "tiny" / ("s" + std::to_string(i)), TextBytes(std::size_t(i) * 97));
    }
    fs::path src() const { return root / "src"; }
    fs::path OutDir(int workers, CodecKind codec) const
    {
        return root / ("w" + std::to_string(workers) + (codec == CodecKind::Zlib ? "z" : "d"));
    }

    // Backs up the sample tree with `workers` threads; `stopAtChunk` > 0
    // stops the run from OnProgress at that chunk.
    Observed RunBackup(int workers, CodecKind codec, std::int32_t maxSize, int stopAtChunk = 0)
    {
        const fs::path out = OutDir(workers, codec);
        fs::remove_all(out);
        fs::create_directories(out);
        TBackupFile engine;
        engine.SetFileSystem(native);
        engine.SetWorkers(workers);
        engine.SetCodec(codec);
        engine.SetMaxSize(maxSize);
        // No file-ID list: its temporary file's name and date differ from run to run.
        Observed o;
        int chunks = 0;
        engine.OnProgress = [&](TBackupFile* e, const std::string& f, TPercentage p, bool&) {
            o.events.push_back("progress " + f.substr(f.rfind('/') + 1) + " " + std::to_string(p));
            if (!f.empty() && ++chunks == stopAtChunk)
                e->Stop();
        };
        engine.OnNeedDisk = [&](TBackupFile*, std::uint16_t disk, bool& cont) {
            o.events.push_back("disk " + std::to_string(disk));
            cont = true;
        };
        o.result = engine.Backup({(src() / "*").string() + " /s"}, (out / "a.bck").string());
        for (const char* name : {"a.bck", "a.002", "a.003", "a.004", "a.005", "a.006"})
            if (fs::exists(out / name))
                o.volumes.push_back(ReadBytes(out / name));
        o.totalSize = engine.TotalSize();
        o.bytesWritten = engine.BytesWritten();
        o.bytesProcessed = engine.BytesProcessed();
        o.fileCount = engine.FileCount();
        o.processed = engine.ProcessedCount();
        o.error = engine.ErrorCode();
        return o;
    }
};

TEST_F(Parallel, workersWriteTheSameArchiveWithTheSameCallbacks)
{
    for (const CodecKind codec : {CodecKind::Zlib, CodecKind::Libdeflate}) {
        if (!CodecAvailable(codec))
            continue;
        for (const std::int32_t maxSize : {0, 60000}) {
            for (const int stop : {0, 1, 7, 20}) {
                const Observed one = RunBackup(1, codec, maxSize, stop);
                const Observed four = RunBackup(4, codec, maxSize, stop);
                EXPECT_TRUE(one == four) << "codec " << int(codec) << ", volume size " << maxSize << ", stop at "
                                         << stop;
                EXPECT_EQ(one.result, stop == 0);
            }
        }
    }
}

TEST_F(Parallel, archivesOfEitherCodecRestoreWithTheOtherAndWithPython)
{
    if (!CodecAvailable(CodecKind::Libdeflate) || !CodecAvailable(CodecKind::Zlib))
        GTEST_SKIP() << "this build has one codec only";
    for (const CodecKind writer : {CodecKind::Zlib, CodecKind::Libdeflate}) {
        const CodecKind reader = writer == CodecKind::Zlib ? CodecKind::Libdeflate : CodecKind::Zlib;
        const Observed written = RunBackup(2, writer, 0);
        ASSERT_TRUE(written.result);
        const fs::path archive = OutDir(2, writer) / "a.bck";
        TBackupFile engine;
        engine.SetFileSystem(native);
        engine.SetCodec(reader);
        engine.SetRestoreFullPath(true);
        const fs::path dest = root / ("restored" + std::to_string(int(writer)));
        ASSERT_TRUE(engine.Restore(archive.string(), dest.string()));
        for (const char* name : {"empty.txt", "b16384.bin", "b16385.txt", "random.bin", "sub/text.txt"})
            EXPECT_EQ(ReadBytes(dest / fs::relative(src(), "/") / name), ReadBytes(src() / name)) << name;
    }
    // Python's zlib decompresses a chunk libdeflate made.
    const auto parsed = ParseVolume(RunBackup(1, CodecKind::Libdeflate, 0).volumes.front());
    const auto& chunk = parsed.records.front().chunks.front();  // sub/text.txt, compressible
    ASSERT_GT(chunk.length, 0);
    WriteBytes(root / "chunk.z", chunk.payload);
    const std::string cmd = "python3 -c \"import zlib; zlib.decompress(open('" + (root / "chunk.z").string() +
                            "','rb').read())\"";
    EXPECT_EQ(std::system(cmd.c_str()), 0);
}

TEST_F(Parallel, restoreWithWorkersGivesTheSameFilesAndProgress)
{
    ASSERT_TRUE(RunBackup(1, DefaultCodec(), 60000).result);
    std::vector<std::vector<std::string>> progress(2);
    for (int pass = 0; pass < 2; ++pass) {
        TBackupFile engine;
        engine.SetFileSystem(native);
        engine.SetWorkers(pass == 0 ? 1 : 4);
        engine.OnNeedDisk = [](TBackupFile*, std::uint16_t, bool& cont) { cont = true; };
        engine.OnProgress = [&](TBackupFile*, const std::string& f, TPercentage p, bool&) {
            progress[std::size_t(pass)].push_back(fs::path(f).filename().string() + " " + std::to_string(p));
        };
        const fs::path dest = root / ("r" + std::to_string(pass));
        ASSERT_TRUE(engine.Restore((OutDir(1, DefaultCodec()) / "a.bck").string(), dest.string()));
        EXPECT_EQ(ReadBytes(dest / "text.txt"), TextBytes(300000));
        EXPECT_EQ(engine.ProcessedCount(), 65);
    }
    EXPECT_EQ(progress[0], progress[1]);
}

}  // namespace
}  // namespace arcovelo::test
