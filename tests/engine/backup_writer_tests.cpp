// The writer: archive layout byte for byte, chunk rules, expansion, incremental
// selection, volumes, the file-ID list, errors and progress.
#include "dosdate.h"
#include "format.h"
#include "test_support.h"

#include <zlib.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#ifndef _WIN32
#include "archive_flags.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>
#endif

namespace arcovelo::test {
namespace {

class BackupWriter : public EngineTest {
protected:
    std::string Archive(const std::string& name = "out.bck") const { return (root / name).string(); }
    ParsedArchive BackupAndParse(const std::vector<std::string>& list)
    {
        EXPECT_TRUE(engine.Backup(list, Archive()));
        return ParseVolume(ReadBytes(Archive()));
    }
    std::vector<std::string> RecordNames(const ParsedArchive& a) const
    {
        std::vector<std::string> names;
        for (const auto& r : a.records)
            names.push_back(r.name);
        return names;
    }
};

TEST_F(BackupWriter, writesTheWorkedLayoutByteForByte)
{
    const auto file = root / "a.txt";
    WriteText(file, "abc");
    engine.SetBackupTitle("Predefinito");
    ASSERT_TRUE(engine.Backup({file.string()}, Archive()));

    const auto bytes = ReadBytes(Archive());
    const std::string name = file.string();
    const std::size_t n = name.size();
    ParsedArchive a = ParseVolume(bytes);
    ASSERT_EQ(a.records.size(), 1u);
    const std::int32_t c = a.records[0].chunks.at(0).length;
    ASSERT_GT(c, 0);
    // Offsets of the worked layout, shifted by the name's length beyond 8.
    const std::size_t shift = n - 8;
    EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + 4), (std::vector<std::uint8_t>{11, 0, 0, 0}));
    EXPECT_EQ(std::string(bytes.begin() + 4, bytes.begin() + 0x0F), "Predefinito");
    EXPECT_EQ(a.totalSize, 3);
    EXPECT_EQ(a.fileCount, 1);
    EXPECT_EQ(bytes[0x17], n);
    EXPECT_EQ(std::string(bytes.begin() + 0x1B, bytes.begin() + 0x1B + std::ptrdiff_t(n)), name);
    EXPECT_EQ(a.records[0].stamp, DosStampFromTime(Mtime(file)));
    EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin() + 0x27 + shift, bytes.begin() + 0x2B + shift),
              (std::vector<std::uint8_t>{0x45, 0x43, 0x32, 0x00}));
    EXPECT_EQ(bytes.size(), 0x33 + shift + c + 4);
    for (std::size_t i = 0x2F + shift + c; i < bytes.size(); ++i)
        EXPECT_EQ(bytes[i], 0) << "group end and end marker";
    EXPECT_EQ(DecodeChunks(a.records[0].chunks), (std::vector<std::uint8_t>{'a', 'b', 'c'}));
}

#ifndef _WIN32  // runs the system's python3
TEST_F(BackupWriter, chunkIsAZlibStreamThatPythonDecompresses)
{
    WriteText(root / "a.txt", "abc");
    const auto a = BackupAndParse({(root / "a.txt").string()});
    const auto& payload = a.records.at(0).chunks.at(0).payload;
    WriteBytes(root / "chunk.z", payload);
    const std::string cmd = "python3 -c \"import zlib,sys; sys.exit(0 if zlib.decompress(open('" +
                            (root / "chunk.z").string() + "','rb').read())==b'abc' else 1)\"";
    EXPECT_EQ(std::system(cmd.c_str()), 0);
}
#endif

TEST_F(BackupWriter, storesChunksRawExactlyWhenTheirStreamWouldNotFit)
{
    WriteBytes(root / "random.bin", RandomBytes(16384 + 100));
    WriteText(root / "empty.txt", "");
    const auto a = BackupAndParse({(root / "random.bin").string(), (root / "empty.txt").string()});
    ASSERT_EQ(a.records.size(), 2u);
    const auto& chunks = a.records[0].chunks;
    ASSERT_EQ(chunks.size(), 2u);
    EXPECT_EQ(chunks[0].length, -16384);
    EXPECT_GT(chunks[1].length, 100) << "a short incompressible chunk still fits as a stream";
    EXPECT_EQ(DecodeChunks(chunks), RandomBytes(16384 + 100));
    EXPECT_TRUE(a.records[1].chunks.empty()) << "an empty file has just the tag and the group end";
    EXPECT_TRUE(a.endMarker);
}

TEST_F(BackupWriter, levelNoneStoresFullChunksRawAndShortOnesAsStoredStreams)
{
    WriteBytes(root / "text.txt", TextBytes(16384 + 10));
    engine.SetCompressionLevel(clNone);
    const auto a = BackupAndParse({(root / "text.txt").string()});
    const auto& chunks = a.records.at(0).chunks;
    ASSERT_EQ(chunks.size(), 2u);
    EXPECT_EQ(chunks[0].length, -16384);
    EXPECT_GT(chunks[1].length, 10);
    EXPECT_LT(chunks[1].length, 30);
    EXPECT_EQ(DecodeChunks(chunks), TextBytes(16384 + 10));
}

TEST_F(BackupWriter, eachLevelRoundTripsThroughZlib)
{
    const auto data = TextBytes(100000);
    WriteBytes(root / "t.txt", data);
    std::vector<std::size_t> sizes;
    for (auto level : {clFastest, clNone, clDefault, clMax}) {
        engine.SetCompressionLevel(level);
        const auto a = BackupAndParse({(root / "t.txt").string()});
        EXPECT_EQ(DecodeChunks(a.records.at(0).chunks), data);
        sizes.push_back(ReadBytes(Archive()).size());
    }
    EXPECT_GT(sizes[1], sizes[0]) << "stored is larger than fastest";
    EXPECT_LE(sizes[3], sizes[0]) << "max is no larger than fastest";
}

TEST_F(BackupWriter, emptyListWritesHeaderAndEndMarker)
{
    const auto a = BackupAndParse({(root / "nothing*.txt").string()});
    EXPECT_EQ(a.totalSize, 0);
    EXPECT_EQ(a.fileCount, 0);
    EXPECT_TRUE(a.records.empty());
    EXPECT_TRUE(a.endMarker);
    EXPECT_EQ(engine.CompressionRate(), 0);
}

#ifndef _WIN32  // POSIX only
TEST_F(BackupWriter, expandsMasksRecursivelyDepthFirstSkippingHiddenFolders)
{
    const auto d = root / "dati";
    for (const char* f : {"a.txt", "b.doc", ".hidden.txt", "sub/c.txt", "sub/deeper/d.txt", "sub/e.doc",
                          ".secret/s.txt", "zz/f.txt"})
        WriteText(d / f, f);
    fs::create_directory_symlink(d / "sub", d / "loop");
    engine.SetSaveFileID(false);
    const auto a = BackupAndParse({(d / "*.txt").string() + " /s"});
    const std::string p = d.string() + "/";
    EXPECT_EQ(RecordNames(a), (std::vector<std::string>{p + "sub/deeper/d.txt", p + "sub/c.txt", p + "zz/f.txt",
                                                        p + ".hidden.txt", p + "a.txt"}));
}
#endif

#ifndef _WIN32  // POSIX only
TEST_F(BackupWriter, onlyATrailingBlankSlashSMarksRecursion)
{
    WriteText(root / "src" / "a.txt", "a");
    WriteText(root / "src" / "sub" / "b.txt", "b");
    const auto a = BackupAndParse({(root / "src" / "a.txt").string(), (root / "src" / "*.txt").string() + "  /S"});
    EXPECT_EQ(RecordNames(a), (std::vector<std::string>{(root / "src/a.txt").string(), (root / "src/sub/b.txt").string()}))
        << "the /s inside /src is no marker, and a.txt appears once";
}
#endif

TEST_F(BackupWriter, resolvesRelativeEntriesAndLeavesTheArchiveOut)
{
    WriteText(root / "w" / "one.txt", "1");
    WriteText(root / "w" / "out.bck", "old archive");
    const auto cwd = fs::current_path();
    fs::current_path(root / "w");
    const bool ok = engine.Backup({"*.*", "./one.txt"}, "out.bck");
    fs::current_path(cwd);
    ASSERT_TRUE(ok);
    const auto a = ParseVolume(ReadBytes(root / "w" / "out.bck"));
    EXPECT_EQ(RecordNames(a), (std::vector<std::string>{(root / "w" / "one.txt").string()}));
}

#ifndef _WIN32  // POSIX only
TEST_F(BackupWriter, neverArchivesFifosOrFolders)
{
    WriteText(root / "d" / "f.txt", "f");
    ASSERT_EQ(mkfifo((root / "d" / "pipe").c_str(), 0600), 0);
    fs::create_directory(root / "d" / "folder");
    const auto a = BackupAndParse({(root / "d" / "*").string()});
    EXPECT_EQ(RecordNames(a), (std::vector<std::string>{(root / "d" / "f.txt").string()}));
}
#endif

#ifndef _WIN32  // POSIX only
TEST_F(BackupWriter, incrementalTakesOnlyChangedFilesAndTheFlagsSurviveARestart)
{
    WriteText(root / "d" / "a.txt", "a");
    WriteText(root / "d" / "b.txt", "b");
    LetFileClockTick();
    const std::vector<std::string> list{(root / "d" / "*.txt").string()};
    engine.SetBackupMode(bmIncremental);
    EXPECT_EQ(BackupAndParse(list).records.size(), 2u) << "never backed up: both flagged";
    EXPECT_TRUE(BackupAndParse(list).records.empty()) << "flags cleared by the first run";

    WriteText(root / "d" / "b.txt", "changed");
    TBackupFile restarted;
    restarted.SetFileSystem(MakeNativeFileSystem((root / "state" / "flags.sqlite").string()));
    restarted.SetBackupMode(bmIncremental);
    ASSERT_TRUE(restarted.Backup(list, Archive()));
    EXPECT_EQ(RecordNames(ParseVolume(ReadBytes(Archive()))), (std::vector<std::string>{(root / "d" / "b.txt").string()}));
}

// The store is read folder by folder in the order of its paths' bytes: a
// subfolder's rows sort between its parent's files, and names above 0x7F
// after every ASCII one; each file must still meet its own row. So it must
// in a store an earlier version made, whose rows lie in a table of their
// own beside the index of paths.
#ifndef _WIN32
TEST_F(BackupWriter, theFlagStoreMatchesEachFileWithItsOwnRowWhereverItSorts)
{
    const std::vector<std::string> names{"/x/c",   "/x/b/z", "/x/a", "/x/b\xc3\xa9", "/x/c/d/e",
                                         "/x/b/y", "/x/b",   "/y",   "/x/B"};
    fs::create_directories(root / "earlier");
    sqlite3* earlier = nullptr;
    ASSERT_EQ(sqlite3_open((root / "earlier" / "flags.sqlite").c_str(), &earlier), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(earlier,
                           "CREATE TABLE flags(path BLOB PRIMARY KEY, device INTEGER, inode INTEGER,"
                           " size INTEGER, mtime_ns INTEGER, ctime_ns INTEGER);",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(earlier);
    for (const fs::path& store : {root / "flags.sqlite", root / "earlier" / "flags.sqlite"}) {
        SCOPED_TRACE(store.string());
        std::vector<FileEntry> files;
        for (std::size_t i = 0; i < names.size(); ++i)
            files.push_back({names[i], {1, i + 1, std::int64_t(i), 10, 20}});
        ArchiveFlagStore flags(store.string());
        const std::vector<FileEntry> firstRun(files.begin() + 1, files.end() - 1);  // not "/x/c", not "/x/B"
        ASSERT_TRUE(flags.Clear(firstRun));

        files[2].identity.ctimeNs = 21;  // "/x/a" changed since
        EXPECT_EQ(flags.AreSet(files), (std::vector<bool>{true, false, true, false, false, false, false, false, true}));

        ASSERT_TRUE(flags.Clear(files));
        EXPECT_EQ(ArchiveFlagStore(store.string()).AreSet(files), std::vector<bool>(files.size(), false))
            << "a new store sees what the last one cleared";
    }
}
#endif

// Where times are whole seconds, a same-size rewrite in the second the file
// was read in changes neither its size nor its times: such a file keeps its
// flag, so the next incremental backup still takes the new content.
TEST_F(BackupWriter, aFileRewrittenInTheTickItWasReadInKeepsItsFlag)
{
    auto coarse = std::make_shared<FaultyFileSystem>(native);
    coarse->wholeSecondTimes = true;
    engine.SetFileSystem(coarse);
    engine.SetBackupMode(bmIncremental);
    WriteText(root / "a.txt", "first");
    const std::vector<std::string> list{(root / "a.txt").string()};
    ASSERT_TRUE(engine.Backup(list, Archive()));
    WriteText(root / "a.txt", "newer");
    ASSERT_TRUE(engine.Backup(list, Archive()));
    EXPECT_EQ(RecordNames(ParseVolume(ReadBytes(Archive()))), list);
}
#endif

TEST_F(BackupWriter, backupModeAndAttributesFollowTheirRules)
{
    EXPECT_FALSE(engine.SetArchiveFlag());
    engine.SetBackupMode(bmIncremental);
    EXPECT_TRUE(engine.SetArchiveFlag());
    engine.SetBackupMode(bmAll);
    EXPECT_TRUE(engine.SetArchiveFlag()) << "bmAll leaves it on";
    engine.SetBackupMode(bmIncremental);
    engine.SetSetArchiveFlag(false);
    engine.SetBackupMode(bmIncremental);
    EXPECT_FALSE(engine.SetArchiveFlag()) << "same value changes nothing";
    engine.SetVersion("9.99");
    EXPECT_EQ(engine.Version(), "5.00");
    EXPECT_EQ(engine.CompressionRate(), 0);
}

#ifndef _WIN32  // POSIX only
// Flags go only with a whole archive on stable storage: a run stopped at any
// chunk (a file's last one, a one-chunk file's only one) or failing only at
// its end marker leaves every flag set, so the next incremental takes all.
TEST_F(BackupWriter, flagsAreClearedOnlyByARunThatCompleted)
{
    WriteBytes(root / "big.bin", RandomBytes(40000));
    WriteText(root / "small.txt", "s");
    LetFileClockTick();
    const std::vector<std::string> list{(root / "small.txt").string(), (root / "big.bin").string()};
    engine.SetBackupMode(bmIncremental);
    for (int stopAt = 1; stopAt <= 4; ++stopAt) {
        int chunks = 0;
        engine.OnProgress = [&](TBackupFile*, const std::string& f, TPercentage, bool& cont) {
            if (!f.empty() && ++chunks == stopAt)
                cont = false;
        };
        EXPECT_FALSE(engine.Backup(list, Archive())) << stopAt;
        EXPECT_TRUE(FlagIsSet(*native, list[0])) << "stopped at chunk " << stopAt;
        EXPECT_TRUE(FlagIsSet(*native, list[1])) << "stopped at chunk " << stopAt;
    }
    engine.OnProgress = nullptr;

    // The end marker is the archive's last write: count them once, fail it next.
    auto faulty = std::make_shared<FaultyFileSystem>(native);
    int writes = 0;
    int failAt = 0;
    faulty->fail = [&](Op op, const std::string& path) {
        return op == Op::Write && path == Archive() && ++writes == failAt;
    };
    engine.SetFileSystem(faulty);
    engine.SetSetArchiveFlag(false);
    engine.SetBackupMode(bmAll);
    ASSERT_TRUE(engine.Backup(list, Archive()));
    failAt = writes;
    writes = 0;
    engine.SetBackupMode(bmIncremental);
    EXPECT_FALSE(engine.Backup(list, Archive()));
    EXPECT_EQ(engine.ErrorCode(), errWriteArchive);
    EXPECT_TRUE(FlagIsSet(*native, list[0]) && FlagIsSet(*native, list[1]));

    engine.SetFileSystem(native);
    ASSERT_TRUE(engine.Backup(list, Archive()));
    EXPECT_FALSE(FlagIsSet(*native, list[0]) || FlagIsSet(*native, list[1]));
}
#endif

#ifndef _WIN32  // POSIX only
// kill -9 halfway or once the whole archive is written, before it is synced:
// every flag stays set and the file-ID list leaves nothing behind.
TEST_F(BackupWriter, aKilledRunLeavesEveryFlagAndNoTemporaryFile)
{
    WriteBytes(root / "d" / "a.bin", RandomBytes(400000));
    WriteText(root / "d" / "b.txt", "b");
    fs::create_directories(root / "tmp");
    UseTempFolder(root / "tmp");
    const std::vector<std::string> list{(root / "d" / "*").string()};
    auto faulty = std::make_shared<FaultyFileSystem>(native);
    int writes = 0;
    int killAt = 0;
    faulty->fail = [&](Op op, const std::string& path) {
        if (path == Archive() && (op == Op::Write || op == Op::Sync) && ++writes == killAt)
            raise(SIGKILL);
        return false;
    };
    engine.SetFileSystem(faulty);
    engine.SetSaveFileID(true);
    ASSERT_TRUE(engine.Backup(list, Archive()));  // counts the writes and the sync; no flag cleared
    const int total = writes;
    ASSERT_GT(total, 3);
    engine.SetBackupMode(bmIncremental);
    for (const int at : {total / 2, total}) {
        writes = 0;
        killAt = at;
        EXPECT_EQ(RunInChild([&] { return engine.Backup(list, Archive()) ? 0 : 1; }), 128 + SIGKILL);
        EXPECT_TRUE(fs::is_empty(root / "tmp")) << at;
        EXPECT_TRUE(FlagIsSet(*native, (root / "d" / "a.bin").string())) << at;
        EXPECT_TRUE(FlagIsSet(*native, (root / "d" / "b.txt").string())) << at;
    }
    UseTempFolder({});
}
#endif

#ifndef _WIN32  // POSIX only
// Another process holding the store, or a store the user may not write: one
// message, every file counts as changed, nothing left that breaks later runs.
TEST_F(BackupWriter, aLockedOrReadOnlyFlagStoreIsSaidOnceAndTakesEveryFile)
{
    for (int i = 0; i < 20; ++i)
        WriteText(root / "d" / ("f" + std::to_string(i)), "x");
    LetFileClockTick();
    const std::vector<std::string> list{(root / "d" / "*").string()};
    engine.SetBackupMode(bmIncremental);
    ASSERT_TRUE(engine.Backup(list, Archive()));
    const auto countMessages = [](const std::string& text) {
        std::size_t n = 0;
        for (auto at = text.find("unavailable"); at != std::string::npos; at = text.find("unavailable", at + 1))
            ++n;
        return n;
    };

    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open((root / "state" / "flags.sqlite").c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
    ::testing::internal::CaptureStderr();
    const bool locked = engine.Backup(list, Archive());
    EXPECT_EQ(countMessages(::testing::internal::GetCapturedStderr()), 1u);
    sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    EXPECT_TRUE(locked);
    EXPECT_EQ(engine.FileCount(), 20) << "a locked store counts every file as changed";

    fs::create_directories(root / "out");
    fs::permissions(root / "out", fs::perms::all);
    const auto stateBefore = std::distance(fs::directory_iterator(root / "state"), fs::directory_iterator());
    const int status = RunInChild(
        [&] {
            const int err = open((root / "out" / "stderr").c_str(), O_WRONLY | O_CREAT, 0666);
            dup2(err, STDERR_FILENO);
            TBackupFile user;
            user.SetFileSystem(native);
            user.SetBackupMode(bmIncremental);
            return user.Backup(list, (root / "out" / "a.bck").string()) && user.FileCount() == 20 ? 0 : 1;
        },
        true);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(countMessages(ReadText(root / "out" / "stderr")), 1u);
    EXPECT_EQ(std::distance(fs::directory_iterator(root / "state"), fs::directory_iterator()), stateBefore);
    WriteText(root / "d" / "f0", "changed");
    ::testing::internal::CaptureStderr();
    ASSERT_TRUE(engine.Backup(list, Archive()));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(engine.FileCount(), 1) << "the store still works";
}
#endif

#ifndef _WIN32  // POSIX only
// Only the entry as typed is trimmed: names that masks find keep their
// blanks and control characters.
TEST_F(BackupWriter, namesFoundByMasksAreKeptByteForByte)
{
    WriteText(root / "n" / "report", "plain");
    WriteText(root / "n" / "report ", "blank");
    WriteText(root / "n" / "nl\n", "newline");
    const auto a = BackupAndParse({"  " + (root / "n" / "*").string() + " "});
    ASSERT_EQ(RecordNames(a), (std::vector<std::string>{(root / "n" / "nl\n").string(), (root / "n" / "report").string(),
                                                        (root / "n" / "report ").string()}));
    EXPECT_EQ(DecodeChunks(a.records[0].chunks), (std::vector<std::uint8_t>{'n', 'e', 'w', 'l', 'i', 'n', 'e'}));
    EXPECT_EQ(DecodeChunks(a.records[2].chunks), (std::vector<std::uint8_t>{'b', 'l', 'a', 'n', 'k'}));
}
#endif

#ifndef _WIN32  // POSIX only
TEST_F(BackupWriter, theArchiveReachedThroughALinkedFolderIsLeftOut)
{
    WriteText(root / "real" / "f.txt", "f");
    fs::create_directory_symlink(root / "real", root / "link");
    const std::string archive = (root / "link" / "a.bck").string();
    ASSERT_TRUE(engine.Backup({(root / "real" / "*").string()}, archive));
    ASSERT_TRUE(engine.Backup({(root / "real" / "*").string()}, archive));
    EXPECT_EQ(RecordNames(ParseVolume(ReadBytes(archive))), (std::vector<std::string>{(root / "real" / "f.txt").string()}));
}
#endif

#ifndef _WIN32  // POSIX only
// A path too long, a listed file that is not there, one that vanishes before
// its record, a folder the user may not read: each is named, and the archive
// is still whole. A mask that matches nothing says nothing.
TEST_F(BackupWriter, whatCannotBeTakenIsWarnedAndTheArchiveStaysWhole)
{
    WriteText(root / "w" / "keep.txt", "k");
    WriteText(root / "w" / "gone.txt", "g");
    const fs::path cwd = fs::current_path();
    fs::current_path(root / "w");
    for (int depth = 0; depth < 24; ++depth) {  // beyond PATH_MAX, made one step at a time
        const std::string step(200, char('a' + depth % 26));
        ASSERT_EQ(mkdir(step.c_str(), 0755), 0);
        ASSERT_EQ(chdir(step.c_str()), 0);
    }
    fs::current_path(cwd);
    std::vector<std::string> warnings;
    engine.OnWarning = [&](TBackupFile*, const std::string& text) { warnings.push_back(text); };
    engine.OnProgress = [&](TBackupFile*, const std::string&, TPercentage, bool&) { fs::remove(root / "w" / "gone.txt"); };
    ASSERT_TRUE(engine.Backup({(root / "w" / "*.txt").string() + " /s", (root / "w" / "missing.txt").string(),
                               (root / "w" / "*.none").string()},
                              Archive()));
    EXPECT_TRUE(ParseVolume(ReadBytes(Archive())).endMarker);
    ASSERT_EQ(warnings.size(), 3u);
    EXPECT_NE(warnings[0].find("File name too long"), std::string::npos) << warnings[0];
    EXPECT_NE(warnings[1].find("missing.txt"), std::string::npos) << warnings[1];
    EXPECT_NE(warnings[2].find("gone.txt"), std::string::npos) << warnings[2];

    fs::create_directories(root / "w" / "secret");
    fs::permissions(root / "w" / "secret", fs::perms::owner_all);
    fs::create_directories(root / "out");
    fs::permissions(root / "out", fs::perms::all);
    const int status = RunInChild(
        [&] {
            TBackupFile user;
            int unreadable = 0;
            user.OnWarning = [&](TBackupFile*, const std::string& text) {
                unreadable += text.find("secret") != std::string::npos;
            };
            return user.Backup({(root / "w" / "*.txt").string() + " /s"}, (root / "out" / "a.bck").string()) &&
                           unreadable == 1
                       ? 0
                       : 1;
        },
        true);
    EXPECT_EQ(status, 0);
}
#endif

// Volumes hold whole records within MaxSize, and the smallest volume that
// takes a chunk still restores every file.
TEST_F(BackupWriter, recordsNeverCarryAVolumePastItsSize)
{
    for (int i = 0; i < 400; ++i)
        WriteText(root / "e" / ("empty-file-with-a-longish-name-" + std::to_string(i)), i % 50 ? "" : "data");
    engine.SetMaxSize(std::int32_t(format::kMinVolumeSize));
    engine.OnNeedDisk = [](TBackupFile*, std::uint16_t, bool& cont) { cont = true; };
    ASSERT_TRUE(engine.Backup({(root / "e" / "*").string()}, Archive("v.bck")));
    int volumes = 0;
    for (const auto& entry : fs::directory_iterator(root))
        if (entry.path().stem() == "v") {
            ++volumes;
            EXPECT_LE(fs::file_size(entry.path()), std::uintmax_t(format::kMinVolumeSize)) << entry.path();
        }
    EXPECT_GT(volumes, 2);
    ASSERT_TRUE(engine.Restore(Archive("v.bck"), (root / "back").string()));
    EXPECT_EQ(engine.ProcessedCount(), 400);
    EXPECT_EQ(ReadText(root / "back" / "empty-file-with-a-longish-name-50"), "data");
}

TEST_F(BackupWriter, aTitleNoReaderWouldAcceptIsRefusedBeforeWriting)
{
    engine.SetBackupTitle(std::string(format::kMaxTitleLength + 1, 't'));
    EXPECT_FALSE(engine.Backup({}, Archive()));
    EXPECT_EQ(engine.ErrorCode(), errWriteArchive);
    EXPECT_FALSE(fs::exists(Archive()));
}

TEST_F(BackupWriter, fileListIsTheFirstRecordAndTheTemporaryFileIsGone)
{
    WriteText(root / "d" / "a.txt", "hello");
    WriteBytes(root / "d" / "b.bin", RandomBytes(20000));
    UseTempFolder(root / "tmp");
    fs::create_directories(root / "tmp");
    engine.SetSaveFileID(true);
    std::vector<std::string> progressFiles;
    engine.OnProgress = [&](TBackupFile*, const std::string& f, TPercentage, bool&) { progressFiles.push_back(f); };
    const auto a = BackupAndParse({(root / "d" / "*").string()});
    UseTempFolder({});

    ASSERT_EQ(a.records.size(), 3u);
    EXPECT_EQ(a.records[0].name, "FILE:LIST");
    const auto text = DecodeChunks(a.records[0].chunks);
    const std::string pa = (root / "d" / "a.txt").string();
    const std::string pb = (root / "d" / "b.bin").string();
    const std::string expected = pa + "\t" + std::to_string(DosStampFromTime(Mtime(root / "d" / "a.txt"))) + "=5\r\n" +
                                 pb + "\t" + std::to_string(DosStampFromTime(Mtime(root / "d" / "b.bin"))) + "=20000\r\n";
    EXPECT_EQ(std::string(text.begin(), text.end()), expected);
    EXPECT_EQ(a.fileCount, 2);
    EXPECT_EQ(a.totalSize, 20005 + std::int32_t(expected.size()));
    EXPECT_EQ(engine.ProcessedCount(), 2);
    EXPECT_TRUE(fs::is_empty(root / "tmp")) << "the FID file is deleted";
    ASSERT_GE(progressFiles.size(), 3u);
    EXPECT_EQ(progressFiles[1].rfind((root / "tmp" / "FID").string(), 0), 0u) << "the list's progress names its file";
}

TEST_F(BackupWriter, splitsIntoVolumesBelowMaxSizeAndAsksForEachDisk)
{
    WriteBytes(root / "d" / "r1.bin", RandomBytes(1500000, 1));
    WriteBytes(root / "d" / "r2.bin", RandomBytes(1500000, 2));
    engine.SetMaxSize(1400000);
    std::vector<int> disks;
    engine.OnNeedDisk = [&](TBackupFile*, std::uint16_t disk, bool& cont) {
        disks.push_back(disk);
        cont = true;
    };
    ASSERT_TRUE(engine.Backup({(root / "d" / "*.bin").string()}, Archive("set.bck")));
    EXPECT_EQ(disks, (std::vector<int>{2, 3}));
    std::vector<std::uint8_t> joined;
    const char* names[] = {"set.bck", "set.002", "set.003"};
    for (int v = 0; v < 3; ++v) {
        const auto bytes = ReadBytes(root / names[v]);
        EXPECT_LE(bytes.size(), 1400000u);
        const auto a = ParseVolume(bytes, v == 0);
        if (v > 0) {
            EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), std::string("EC2\0", 4));
        }
        if (v < 2) {
            EXPECT_EQ(a.records.back().name, "NEXT:DISK00" + std::to_string(v + 2));
        }
        EXPECT_EQ(a.endMarker, v == 2);
        for (const auto& r : a.records)
            if (r.name.find("r1.bin") != std::string::npos || (r.name == "(continued)" && v == 1)) {
                const auto part = DecodeChunks(r.chunks);
                joined.insert(joined.end(), part.begin(), part.end());
            }
    }
    EXPECT_EQ(joined, RandomBytes(1500000, 1)) << "r1 starts in volume 1 and continues in volume 2";
    EXPECT_FALSE(fs::exists(root / "set.004"));
}

TEST_F(BackupWriter, cancellingAtTheDiskPromptKeepsEarlierVolumesAndReportsNothing)
{
    WriteBytes(root / "r.bin", RandomBytes(3000000));
    engine.SetMaxSize(1400000);
    host->answers = {true};
    EXPECT_FALSE(engine.Backup({(root / "r.bin").string()}, Archive("set.bck")));
    EXPECT_EQ(host->prompts, (std::vector<std::string>{"Please insert disk 2 and click OK to continue.",
                                                       "Please insert disk 3 and click OK to continue."}));
    EXPECT_TRUE(host->errors.empty());
    EXPECT_EQ(engine.ErrorCode(), 0);
    EXPECT_TRUE(fs::exists(root / "set.002"));
    EXPECT_FALSE(fs::exists(root / "set.003"));
    EXPECT_EQ(ParseVolume(ReadBytes(root / "set.002"), false).records.back().name, "NEXT:DISK003");
}

TEST_F(BackupWriter, stopsWithCode4InsteadOfNamingVolume1000)
{
    WriteBytes(root / "r.bin", RandomBytes(100));
    engine.SetMaxSize(16484);  // admits no chunk into any volume
    int asked = 0;
    engine.OnNeedDisk = [&](TBackupFile*, std::uint16_t, bool& cont) { cont = ++asked < 5000; };
    std::vector<int> errors;
    engine.OnError = [&](TBackupFile*, int code, const std::string&) { errors.push_back(code); };
    EXPECT_FALSE(engine.Backup({(root / "r.bin").string()}, Archive("v.bck")));
    EXPECT_EQ(asked, 998);
    EXPECT_EQ(errors, (std::vector<int>{4}));
    EXPECT_TRUE(fs::exists(root / "v.998")) << "a person changed disks: each whole volume went in place";
    EXPECT_FALSE(fs::exists(root / "v.999")) << "the volume being written when it failed is gone";
    EXPECT_FALSE(fs::exists(root / "v.000"));
}

TEST_F(BackupWriter, aStreamArchiveIsNeverSplit)
{
    WriteBytes(root / "r.bin", RandomBytes(100000));
    MemoryStream out;
    engine.SetOutStream(&out);
    engine.SetMaxSize(16484);
    ASSERT_TRUE(engine.Backup({(root / "r.bin").string()}, ":STREAM"));
    const auto a = ParseVolume(out.Bytes());
    EXPECT_EQ(DecodeChunks(a.records.at(0).chunks), RandomBytes(100000));
    EXPECT_TRUE(host->prompts.empty());
}

TEST_F(BackupWriter, reportsProgressFromZeroThroughEachChunkToHundred)
{
    WriteBytes(root / "a.bin", TextBytes(40000));
    const std::string name = (root / "a.bin").string();
    std::vector<std::pair<std::string, int>> calls;
    engine.OnProgress = [&](TBackupFile*, const std::string& f, TPercentage p, bool&) { calls.emplace_back(f, p); };
    ASSERT_TRUE(engine.Backup({name}, Archive()));
    const std::vector<std::pair<std::string, int>> expected{
        {"", 0}, {name, 40}, {name, 81}, {name, 100}, {"", 100}};
    EXPECT_EQ(calls, expected);
    EXPECT_GE(host->yields, 3);
}

// A backup that replaces an archive writes beside it: stopped, the previous
// archive is left byte for byte and nothing else stays in its folder.
TEST_F(BackupWriter, aStoppedRunLeavesThePreviousArchiveAsItWas)
{
    WriteBytes(root / "a.bin", TextBytes(40000));
    WriteBytes(root / "b.bin", TextBytes(40000));
    ASSERT_TRUE(engine.Backup({(root / "a.bin").string()}, Archive()));
    const auto previous = ReadBytes(Archive());
    engine.OnProgress = [](TBackupFile* e, const std::string& f, TPercentage, bool&) {
        if (!f.empty())
            e->Stop();
    };
    EXPECT_FALSE(engine.Backup({(root / "*.bin").string()}, Archive()));
    EXPECT_EQ(ReadBytes(Archive()), previous);
    EXPECT_EQ(std::distance(fs::directory_iterator(root), fs::directory_iterator()), 3) << "a.bin b.bin out.bck";
    EXPECT_EQ(engine.ProcessedCount(), 1) << "a file cut short by Stop still counts";
    EXPECT_FALSE(engine.Busy());
}

// A folder in the archive's place, or an archive the user may not write, is
// refused with code 4 before anything is written, and stays as it was.
TEST_F(BackupWriter, anArchiveThatMayNotBeWrittenIsNotReplaced)
{
    WriteText(root / "a.txt", "a");
    fs::create_directories(root / "folder.bck");
    EXPECT_FALSE(engine.Backup({(root / "a.txt").string()}, Archive("folder.bck")));
    EXPECT_EQ(engine.ErrorCode(), errWriteArchive);
    EXPECT_NE(engine.ErrorDetail().find("folder.bck"), std::string::npos) << engine.ErrorDetail();
    EXPECT_TRUE(fs::is_directory(root / "folder.bck"));
#ifndef _WIN32  // the ordinary user "nobody"
    ASSERT_TRUE(engine.Backup({(root / "a.txt").string()}, Archive()));
    const auto previous = ReadBytes(Archive());
    fs::permissions(Archive(), fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    fs::permissions(root, fs::perms::all);
    const int status = RunInChild(
        [&] {
            TBackupFile user;
            user.SetFileSystem(native);
            return user.Backup({(root / "a.txt").string()}, Archive()) ? 0 : user.ErrorCode();
        },
        true);
    EXPECT_EQ(status, errWriteArchive);
    EXPECT_EQ(ReadBytes(Archive()), previous);

    // An archive named through a link is written where the link leads, its
    // later volumes beside the first, and read there through the link.
    fs::create_directories(root / "elsewhere");
    fs::create_symlink(root / "elsewhere" / "real.bck", root / "link.bck");
    WriteText(root / "elsewhere" / "real.bck", "old");
    ASSERT_TRUE(engine.Backup({(root / "a.txt").string()}, Archive("link.bck")));
    EXPECT_TRUE(fs::is_symlink(root / "link.bck"));
    EXPECT_EQ(ParseVolume(ReadBytes(root / "elsewhere" / "real.bck")).records.size(), 1u);
    WriteBytes(root / "b.bin", RandomBytes(100000));
    engine.SetMaxSize(40000);
    host->asksPerson = false;
    host->answers.assign(10, true);
    ASSERT_TRUE(engine.Backup({(root / "b.bin").string()}, Archive("link.bck")));
    EXPECT_TRUE(fs::exists(root / "elsewhere" / "real.003"));
    EXPECT_FALSE(fs::exists(root / "link.002")) << "no volume beside the link";
    engine.SetRestoreFullPath(false);
    ASSERT_TRUE(engine.Restore(Archive("link.bck"), (root / "back").string()));
    EXPECT_EQ(ReadBytes(root / "back" / "b.bin"), RandomBytes(100000));
#endif
}

#ifndef _WIN32  // kill -9 of a child process
// A run killed mid-write leaves only its aside file, which the next backup to
// that archive removes; files of other shapes, other archives' and links stay.
TEST_F(BackupWriter, aKilledRunLeavesThePreviousArchiveAndTheNextRunClearsItsLeftover)
{
    WriteBytes(root / "a.bin", RandomBytes(200000));
    ASSERT_TRUE(engine.Backup({(root / "a.bin").string()}, Archive()));
    const auto previous = ReadBytes(Archive());
    const int status = RunInChild([&] {
        TBackupFile child;
        child.SetFileSystem(native);
        child.OnProgress = [](TBackupFile*, const std::string& f, TPercentage, bool&) {
            if (!f.empty())
                ::raise(SIGKILL);
        };
        child.Backup({(root / "a.bin").string()}, Archive());
        return 0;
    });
    EXPECT_EQ(status, 128 + SIGKILL);
    EXPECT_EQ(ReadBytes(Archive()), previous);
    std::vector<std::string> leftovers;
    for (const auto& entry : fs::directory_iterator(root))
        if (entry.path().filename().string().rfind(".out.bck.arcovelo-", 0) == 0)
            leftovers.push_back(entry.path().filename().string());
    ASSERT_EQ(leftovers.size(), 1u);
    const std::string dead = leftovers[0].substr(18, leftovers[0].size() - 18 - 12);  // the killed run's number
    const std::string keep[] = {".out.bck.arcovelo-notes.txt", ".other.bck.arcovelo-" + dead + "-abcdef.part",
                                "out.bck.part"};
    for (const auto& name : keep)
        WriteText(root / name, "mine");
    fs::create_hard_link(root / keep[0], root / (".out.bck.arcovelo-" + dead + "-hardln.part"));
    fs::create_symlink(root / "a.bin", root / (".out.bck.arcovelo-" + dead + "-linked.part"));
    // Killed while its volumes took their names, a run leaves second names of
    // the volumes it was replacing: one goes once the volume is replaced.
    const fs::path second = root / (".out.bck.arcovelo-" + dead + "-second.part");
    fs::create_hard_link(Archive(), second);

    ASSERT_TRUE(engine.Backup({(root / "a.bin").string()}, Archive()));
    EXPECT_FALSE(fs::exists(second)) << "the replaced archive's second name";
    EXPECT_FALSE(fs::exists(root / leftovers[0]));
    for (const auto& name : keep)
        EXPECT_EQ(ReadText(root / name), "mine") << name;
    EXPECT_TRUE(fs::exists(root / (".out.bck.arcovelo-" + dead + "-hardln.part"))) << "a file with another link";
    EXPECT_TRUE(fs::is_symlink(root / (".out.bck.arcovelo-" + dead + "-linked.part")));
    EXPECT_EQ(ReadBytes(root / "a.bin"), RandomBytes(200000));
}
#endif

// When nobody changes disks, a new archive's volumes take their names together
// at the end: stopped at the third disk, the old archive is whole. Whole, a
// shorter archive leaves none of the old one's later volumes; and no run
// stores volumes of the archive it replaces.
TEST_F(BackupWriter, volumesTakeTheirNamesTogetherAndTheOldArchivesTailGoes)
{
    WriteBytes(root / "d" / "r.bin", RandomBytes(100000));
    engine.SetMaxSize(40000);
    host->asksPerson = false;
    host->answers = {true, true, true, true, true, true, true};
    ASSERT_TRUE(engine.Backup({(root / "d" / "r.bin").string()}, Archive("v.bck")));
    ASSERT_TRUE(fs::exists(root / "v.004"));
    const auto old1 = ReadBytes(root / "v.bck");
    const auto old2 = ReadBytes(root / "v.002");

    WriteBytes(root / "d" / "r.bin", RandomBytes(100000, 7));
    host->answers = {true, false};
    EXPECT_FALSE(engine.Backup({(root / "d" / "r.bin").string()}, Archive("v.bck")));
    EXPECT_EQ(ReadBytes(root / "v.bck"), old1);
    EXPECT_EQ(ReadBytes(root / "v.002"), old2);

    WriteBytes(root / "d" / "r.bin", RandomBytes(40000));
    host->answers = {true, true, true};
    ASSERT_TRUE(engine.Backup({(root / "d" / "*.bin").string(), (root / "*").string()}, Archive("v.bck")));
    EXPECT_TRUE(fs::exists(root / "v.002"));
    EXPECT_FALSE(fs::exists(root / "v.003") || fs::exists(root / "v.004")) << "the old archive's later volumes went";

    // A person asked for the next disk got the first volume in place; one who
    // then cancels leaves no old volume to continue it.
    host->asksPerson = true;
    host->answers = {false};
    EXPECT_FALSE(engine.Backup({(root / "d" / "r.bin").string()}, Archive("v.bck")));
    EXPECT_NE(ReadBytes(root / "v.bck"), old1);
    EXPECT_FALSE(fs::exists(root / "v.002"));
    host->answers = {true, true, true};
    ASSERT_TRUE(engine.Backup({(root / "d" / "*.bin").string(), (root / "*").string()}, Archive("v.bck")));

    engine.SetMaxSize(0);
    std::vector<std::string> listed;
    engine.OnRestoreFile = [&](TBackupFile*, std::string& name, std::int32_t, bool& doRestore) {
        listed.push_back(name);
        doRestore = false;
    };
    host->answers = {true};
    ASSERT_TRUE(engine.Restore(Archive("v.bck"), (root / "dest").string()));
    EXPECT_EQ(listed, (std::vector<std::string>{(root / "dest" / "r.bin").string()})) << "no volume archived itself";
}

TEST_F(BackupWriter, compressionRateCanBeNegativeForTinyFiles)
{
    for (int i = 0; i < 5; ++i)
        WriteText(root / ("t" + std::to_string(i) + ".txt"), "x");
    ASSERT_TRUE(engine.Backup({(root / "*.txt").string()}, Archive()));
    EXPECT_EQ(engine.TotalSize(), 5);
    EXPECT_EQ(engine.CompressionRate(), 100 - engine.BytesWritten() * 100 / 5);
    EXPECT_LT(engine.CompressionRate(), 0);
}

TEST_F(BackupWriter, aFileThatShrinksEndsAtItsRealEnd)
{
    auto faulty = std::make_shared<FaultyFileSystem>(native);
    faulty->extraReportedSize = 50000;
    engine.SetFileSystem(faulty);
    WriteBytes(root / "a.bin", TextBytes(20000));
    const auto a = BackupAndParse({(root / "a.bin").string()});
    EXPECT_EQ(DecodeChunks(a.records.at(0).chunks), TextBytes(20000));
    EXPECT_TRUE(a.endMarker);
}

TEST_F(BackupWriter, aSmallFileThatGrewAfterItWasListedIsTakenWholeAndInOrder)
{
    auto faulty = std::make_shared<FaultyFileSystem>(native);
    faulty->listedSizeChange = -39000;
    engine.SetFileSystem(faulty);
    WriteBytes(root / "a.bin", TextBytes(40000));
    for (int i = 0; i < 40; ++i)
        WriteBytes(root / ("b" + std::to_string(100 + i) + ".bin"), TextBytes(39100 + i));
    const auto a = BackupAndParse({(root / "*.bin").string()});
    ASSERT_EQ(a.records.size(), 41u);
    EXPECT_EQ(a.records[0].chunks.size(), 3u);
    EXPECT_EQ(DecodeChunks(a.records[0].chunks), TextBytes(40000));
    for (int i = 0; i < 40; ++i)
        EXPECT_EQ(DecodeChunks(a.records[std::size_t(i) + 1].chunks), TextBytes(39100 + i)) << i;
}

// The file-ID list, written before the file was read, keeps the listed size:
// the backup says that they disagree.
TEST_F(BackupWriter, aFileWhoseSizeChangedSinceItWasListedIsSaid)
{
    auto faulty = std::make_shared<FaultyFileSystem>(native);
    faulty->listedSizeChange = -100;
    engine.SetFileSystem(faulty);
    engine.SetSaveFileID(true);
    WriteBytes(root / "a.bin", TextBytes(5000));
    ASSERT_TRUE(engine.Backup({(root / "a.bin").string()}, Archive()));
    EXPECT_EQ(host->warnings, (std::vector<std::string>{"File \"" + (root / "a.bin").string() +
                                                        "\" changed while it was backed up: the archive holds "
                                                        "5000 bytes of it, its file-ID list 4900"}));
}

TEST_F(BackupWriter, theFirstUnreadableFileInListOrderEndsTheSizingPass)
{
    auto faulty = std::make_shared<FaultyFileSystem>(native);
    faulty->fail = [](Op op, const std::string& path) {
        return op == Op::OpenRead && (path.ends_with("f1100") || path.ends_with("f1150"));
    };
    engine.SetFileSystem(faulty);
    engine.SetWorkers(3);
    for (int i = 1000; i < 1200; ++i)  // ranges of checks: from 1000, 1064, 1128, 1192
        WriteText(root / "many" / ("f" + std::to_string(i)), "");
    try {
        engine.Backup({(root / "many" / "*").string()}, Archive());
        ADD_FAILURE() << "the sizing pass went on";
    } catch (const StreamError& e) {
        EXPECT_NE(std::string(e.what()).find("f1100\""), std::string::npos) << e.what();
    }
    EXPECT_FALSE(fs::exists(Archive()));
}

TEST_F(BackupWriter, totalsBeyond31BitsAreClampedInTheHeaderOnly)
{
    auto faulty = std::make_shared<FaultyFileSystem>(native);
    faulty->extraReportedSize = 3LL << 30;  // reported 3 GiB larger than it is
    engine.SetFileSystem(faulty);
    WriteBytes(root / "a.bin", TextBytes(20000));
    std::vector<int> percents;
    engine.OnProgress = [&](TBackupFile*, const std::string&, TPercentage p, bool&) { percents.push_back(p); };
    const auto a = BackupAndParse({(root / "a.bin").string()});
    EXPECT_EQ(a.totalSize, 0x7FFFFFFF);
    EXPECT_EQ(engine.TotalSize(), (3LL << 30) + 20000);
    EXPECT_EQ(engine.CompressionRate(), 100);
    EXPECT_EQ(percents, (std::vector<int>{0, 0, 0, 100}));
}

struct FaultCase {
    const char* label;
    Op op;
    const char* pathPart;
    int code;
    const char* message;
    const char* detailPart;  // the file ErrorDetail names
};

class BackupFaults : public BackupWriter, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(BackupFaults, reportTheirCodeOnceAfterTheFinalProgress)
{
    const FaultCase c = GetParam();
    WriteBytes(root / "d" / "a.bin", TextBytes(50000));
    WriteBytes(root / "d" / "b.bin", TextBytes(50000));
    UseTempFolder(root / "tmp");
    fs::create_directories(root / "tmp");
    auto faulty = std::make_shared<FaultyFileSystem>(native);
    int writes = 0;
    faulty->fail = [&](Op op, const std::string& path) {
        if (op != c.op || path.find(c.pathPart) == std::string::npos)
            return false;
        return op != Op::Write || ++writes == 1;  // the first (buffered) write of the archive
    };
    engine.SetFileSystem(faulty);
    engine.SetSaveFileID(true);
    std::vector<std::string> events;
    engine.OnProgress = [&](TBackupFile*, const std::string& f, TPercentage p, bool&) {
        if (f.empty())
            events.push_back("progress " + std::to_string(p));
    };
    engine.OnError = [&](TBackupFile*, int code, const std::string& msg) {
        events.push_back(std::to_string(code) + " " + msg);
    };
    EXPECT_FALSE(engine.Backup({(root / "d" / "*.bin").string()}, Archive()));
    UseTempFolder({});
    EXPECT_EQ(events, (std::vector<std::string>{"progress 0", "progress 100",
                                                std::to_string(c.code) + " " + c.message}));
    EXPECT_TRUE(host->errors.empty()) << "OnError replaces the box";
    EXPECT_FALSE(fs::exists(Archive())) << "nothing partial under the archive's name";
    EXPECT_NE(engine.ErrorDetail().find(c.detailPart), std::string::npos) << engine.ErrorDetail();
    EXPECT_NE(engine.ErrorDetail().find("injected"), std::string::npos) << "the system's reason";
    EXPECT_TRUE(fs::is_empty(root / "tmp")) << "no FID file left";
}

INSTANTIATE_TEST_SUITE_P(
    Codes, BackupFaults,
    ::testing::Values(FaultCase{"sourceUnreadable", Op::Read, "b.bin", 1, "Cannot read file", "b.bin"},
                      FaultCase{"archiveWriteFails", Op::Write, "out.bck", 4, "Cannot write to archive", "out.bck"},
                      FaultCase{"archiveSyncFails", Op::Sync, "out.bck", 4, "Cannot write to archive", "out.bck"},
                      FaultCase{"archiveRenameFails", Op::Rename, "out.bck", 4, "Cannot write to archive", "out.bck"},
                      FaultCase{"temporaryFileFails", Op::CreateTemp, "FID", 7,
                                "Cannot create temporary file to save the file IDs", "tmp"}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(BackupWriter, withoutOnErrorTheHostShowsTheMessage)
{
    auto faulty = std::make_shared<FaultyFileSystem>(native);
    faulty->fail = [](Op op, const std::string&) { return op == Op::Create; };
    engine.SetFileSystem(faulty);
    EXPECT_FALSE(engine.Backup({}, Archive()));
    EXPECT_EQ(host->errors, (std::vector<std::string>{"Cannot write to archive"}));
}

}  // namespace
}  // namespace arcovelo::test
