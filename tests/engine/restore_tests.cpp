// The reader: round trips, restore modes and callbacks, volumes, archive info,
// incomplete archives and the archive check.
#include "dosdate.h"
#include "format.h"
#include "test_support.h"

#include <algorithm>
#include <csignal>
#include <map>
#ifndef _WIN32
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif
#ifdef __linux__
#include <sys/syscall.h>
#endif

namespace arcovelo::test {
namespace {

using Tree = std::map<std::string, std::vector<std::uint8_t>>;  // relative path -> content

class Restore : public EngineTest {
protected:
    // Writes `tree` below root/src with distinct old dates.
    void MakeTree(const Tree& tree)
    {
        std::int64_t t = 1700000000;
        for (const auto& [path, bytes] : tree) {
            WriteBytes(src() / path, bytes);
            SetMtime(src() / path, t += 3600 + 7);
        }
    }
    fs::path src() const { return root / "src"; }
    std::string Archive(const std::string& name = "a.bck") const { return (root / name).string(); }
    bool BackupTree() { return engine.Backup({(src() / "*.*").string() + " /s"}, Archive()); }

    // Every file of `tree` at `base` / (its path, or just its name when `flat`),
    // with its content and its date to two seconds.
    void ExpectRestored(const Tree& tree, const fs::path& base, bool flat)
    {
        for (const auto& [path, bytes] : tree) {
            const fs::path at = base / (flat ? fs::path(path).filename() : fs::path(path));
            ASSERT_TRUE(fs::exists(at)) << at;
            EXPECT_EQ(ReadBytes(at), bytes) << at;
            EXPECT_NEAR(double(Mtime(at)), double(Mtime(src() / path)), 1.0) << at;
        }
    }
    // `p` without its root ("/" or "c:\"), as a full-path restore puts it below a folder.
    std::string Relative(const fs::path& p) const { return p.relative_path().string(); }
};

Tree SampleTree()
{
    return {{"empty.txt", {}},
            {"b16383.bin", RandomBytes(16383, 2)},
            {"sub/b16384.bin", RandomBytes(16384, 3)},
            {"sub/b16385.txt", TextBytes(16385)},
            {"sub/deep/b32768.txt", TextBytes(32768)},
            {"big.txt", TextBytes(1200000)},
            {"other/random.bin", RandomBytes(1300000, 4)}};
}

struct RoundTripCase {
    const char* label;
    TCompressionLevel level;
    bool fileList;
    std::int32_t maxSize;
};

class RoundTrip : public Restore, public ::testing::WithParamInterface<RoundTripCase> {};

TEST_P(RoundTrip, restoresEveryFileByteIdenticalWithItsDateEverywhere)
{
    const auto c = GetParam();
    const Tree tree = SampleTree();
    MakeTree(tree);
    engine.SetCompressionLevel(c.level);
    engine.SetSaveFileID(c.fileList);
    engine.SetMaxSize(c.maxSize);
    engine.OnNeedDisk = [](TBackupFile*, std::uint16_t, bool& cont) { cont = true; };
    ASSERT_TRUE(BackupTree());
    EXPECT_EQ(engine.FileCount(), 7);

    engine.SetRestoreFullPath(true);
    ASSERT_TRUE(engine.Restore(Archive(), (root / "full").string()));
    EXPECT_EQ(engine.ProcessedCount(), 7);
    ExpectRestored(tree, root / "full" / Relative(src()), false);

    engine.SetRestoreFullPath(false);
    ASSERT_TRUE(engine.Restore(Archive(), (root / "flat").string() + "/"));
    ExpectRestored(tree, root / "flat", true);

    // Back to the stored paths, over changed files and into a removed folder.
    for (const auto& [path, bytes] : tree)
        WriteText(src() / path, "overwritten");
    fs::remove_all(src() / "sub");
    ASSERT_TRUE(engine.Restore(Archive(), ""));
    for (const auto& [path, bytes] : tree)
        EXPECT_EQ(ReadBytes(src() / path), bytes) << path;
}

INSTANTIATE_TEST_SUITE_P(Levels, RoundTrip,
                         ::testing::Values(RoundTripCase{"fastestWithList", clFastest, true, 0},
                                           RoundTripCase{"noneWithoutList", clNone, false, 0},
                                           RoundTripCase{"defaultWithList", clDefault, true, 0},
                                           RoundTripCase{"maxInVolumes", clMax, true, 1400000},
                                           RoundTripCase{"fastestInSmallVolumes", clFastest, false, 300000}),
                         [](const auto& info) { return std::string(info.param.label); });

TEST_F(Restore, tenThousandSmallFilesRoundTrip)
{
    Tree tree;
    for (int i = 0; i < 10000; ++i)
        tree["d" + std::to_string(i % 10) + "/f" + std::to_string(i) + ".txt"] = TextBytes(std::size_t(i % 50));
    for (const auto& [path, bytes] : tree)
        WriteBytes(src() / path, bytes);
    engine.SetSaveFileID(true);
    ASSERT_TRUE(BackupTree());
    engine.SetRestoreFullPath(true);
    ASSERT_TRUE(engine.Restore(Archive(), (root / "out").string()));
    EXPECT_EQ(engine.ProcessedCount(), 10000);
    for (const auto& [path, bytes] : tree)
        ASSERT_EQ(ReadBytes(root / "out" / Relative(src()) / path), bytes) << path;
}

#ifndef _WIN32  // POSIX only
// Batches are sized to the descriptors the process may still open: 300 files
// restore under a hard limit of 32.
TEST_F(Restore, aLowOpenFileLimitStillRestoresEveryFile)
{
    for (int i = 0; i < 300; ++i)
        WriteText(src() / ("f" + std::to_string(i)), std::to_string(i));
    ASSERT_TRUE(BackupTree());
    const int status = RunInChild([&] {
        const rlimit limit{32, 32};
        if (setrlimit(RLIMIT_NOFILE, &limit) != 0)
            return 2;
        RaiseOpenFileLimit();
        return engine.Restore(Archive(), (root / "dest").string()) && engine.ProcessedCount() == 300 ? 0 : 1;
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(std::distance(fs::directory_iterator(root / "dest"), fs::directory_iterator()), 300);
    EXPECT_EQ(ReadText(root / "dest" / "f299"), "299");
}
#endif

struct ModeCase {
    TRestoreMode mode;
    const char* destination;  // "missing", "older", "same", "newer"
    bool written;
};

std::string ModeName(TRestoreMode mode)
{
    static const char* names[] = {"all", "noOverwrite", "newer", "existing", "existingNewer"};
    return names[mode];
}

class RestoreModes : public Restore, public ::testing::WithParamInterface<ModeCase> {};

TEST_P(RestoreModes, decideByTheDestinationAndSignedStamps)
{
    const auto c = GetParam();
    WriteText(src() / "f.txt", "archived");
    SetMtime(src() / "f.txt", 1700000000);
    ASSERT_TRUE(BackupTree());
    const fs::path dest = root / "dest" / "f.txt";
    const std::string d = c.destination;
    if (d != "missing") {
        WriteText(dest, "present");
        SetMtime(dest, 1700000000 + (d == "older" ? -100 : d == "newer" ? 100 : 0));
    }
    engine.SetRestoreMode(c.mode);
    ASSERT_TRUE(engine.Restore(Archive(), (root / "dest").string()));
    const std::string now = fs::exists(dest) ? ReadText(dest) : "";
    EXPECT_EQ(now == "archived", c.written) << "mode " << int(c.mode) << " with " << d;
    EXPECT_EQ(engine.ProcessedCount(), c.written ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    Table, RestoreModes,
    ::testing::Values(ModeCase{rmAll, "missing", true}, ModeCase{rmAll, "newer", true},
                      ModeCase{rmNoOverwrite, "missing", true}, ModeCase{rmNoOverwrite, "older", false},
                      ModeCase{rmNewer, "missing", true}, ModeCase{rmNewer, "older", true},
                      ModeCase{rmNewer, "same", false}, ModeCase{rmNewer, "newer", false},
                      ModeCase{rmExisting, "missing", false}, ModeCase{rmExisting, "newer", true},
                      ModeCase{rmExistingNewer, "missing", false}, ModeCase{rmExistingNewer, "older", true},
                      ModeCase{rmExistingNewer, "same", false}),
    [](const auto& info) { return ModeName(info.param.mode) + "_" + info.param.destination; });

TEST_F(Restore, aFolderInTheWayFailsWithCode1AndTheFolderStays)
{
    WriteText(src() / "f.txt", "x");
    WriteText(src() / "g.txt", "y");
    ASSERT_TRUE(BackupTree());
    fs::create_directories(root / "dest" / "f.txt");
    engine.SetRestoreMode(rmNoOverwrite);
    std::vector<int> codes;
    engine.OnError = [&](TBackupFile*, int code, const std::string&) { codes.push_back(code); };
    EXPECT_FALSE(engine.Restore(Archive(), (root / "dest").string()));
    EXPECT_EQ(codes, (std::vector<int>{1}));
    EXPECT_TRUE(fs::is_directory(root / "dest" / "f.txt"));
    EXPECT_FALSE(fs::exists(root / "dest" / "g.txt")) << "the restore stops at the failure";
}

#ifndef _WIN32  // POSIX only
// A failure names the file and the system's reason: a folder in its place, a
// link that would lead outside the destination, a pipe, a file the user may
// not write.
TEST_F(Restore, failuresNameTheFileAndTheSystemsReason)
{
    WriteText(src() / "f.txt", "x");
    ASSERT_TRUE(BackupTree());
    engine.OnError = [](TBackupFile*, int, const std::string&) {};
    fs::create_directories(root / "folder" / "f.txt");
    EXPECT_FALSE(engine.Restore(Archive(), (root / "folder").string()));
    EXPECT_EQ(engine.ErrorDetail(), (root / "folder" / "f.txt").string() + ": Is a directory");

    fs::create_directories(root / "link");
    fs::create_symlink(root / "elsewhere.txt", root / "link" / "f.txt");
    EXPECT_FALSE(engine.Restore(Archive(), (root / "link").string()));
    EXPECT_EQ(engine.ErrorDetail(), (root / "link" / "f.txt").string() + ": Outside the destination folder");

    fs::create_directories(root / "pipe");
    ASSERT_EQ(mkfifo((root / "pipe" / "f.txt").c_str(), 0600), 0);
    EXPECT_FALSE(engine.Restore(Archive(), (root / "pipe").string()));
    EXPECT_EQ(engine.ErrorDetail(), (root / "pipe" / "f.txt").string() + ": Not a regular file");

    WriteText(root / "locked" / "f.txt", "read-only");
    fs::permissions(root / "locked" / "f.txt", fs::perms(0444));
    const std::string expected = (root / "locked" / "f.txt").string() + ": Permission denied";
    const int status = RunInChild(
        [&] {
            TBackupFile user;
            user.OnError = [](TBackupFile*, int, const std::string&) {};
            return !user.Restore(Archive(), (root / "locked").string()) && user.ErrorDetail() == expected ? 0 : 1;
        },
        true);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(ReadText(root / "locked" / "f.txt"), "read-only");
}
#endif

#ifndef _WIN32  // POSIX only
// A folder the restore needs but cannot make is a failure (code 1), never
// "0 of N restored": below a regular file, a name too long, a destination that
// is a file, a place the user may not write.
TEST_F(Restore, aFolderThatCannotBeMadeFailsWithCode1)
{
    WriteText(src() / "sub" / "f.txt", "x");
    ASSERT_TRUE(BackupTree());
    std::vector<int> codes;
    engine.OnError = [&](TBackupFile*, int code, const std::string&) { codes.push_back(code); };
    engine.SetRestoreFullPath(true);
    WriteText(root / "file", "in the way");
    const std::string tooLong = (root / std::string(300, 'n')).string();
    for (const std::string& dest : {(root / "file").string(), (root / "file" / "below").string(), tooLong}) {
        codes.clear();
        EXPECT_FALSE(engine.Restore(Archive(), dest)) << dest;
        EXPECT_EQ(codes, (std::vector<int>{1})) << dest;
    }
    EXPECT_EQ(ReadText(root / "file"), "in the way");

    fs::create_directories(root / "locked");
    const int status = RunInChild(
        [&] {
            TBackupFile user;
            user.SetRestoreFullPath(true);
            user.OnError = [](TBackupFile*, int, const std::string&) {};
            return !user.Restore(Archive(), (root / "locked").string()) && user.ErrorCode() == errReadFile ? 0 : 1;
        },
        true);
    EXPECT_EQ(status, 0);
}
#endif

#ifndef _WIN32  // POSIX only
// Restoring over a file keeps what truncating it in place kept: its mode,
// owner and group, and its hard links; a new file gets the umask's mode.
TEST_F(Restore, replacingAFileKeepsItsModeOwnerAndLinks)
{
    WriteText(src() / "key", "new key");
    WriteText(src() / "run.sh", "new script");
    WriteText(src() / "linked", "new linked");
    WriteText(src() / "owned", "new owned");
    WriteText(src() / "fresh", "fresh");
    ASSERT_TRUE(BackupTree());
    const fs::path dest = root / "dest";
    for (const char* name : {"key", "run.sh", "linked", "owned"})
        WriteText(dest / name, "old");
    fs::permissions(dest / "key", fs::perms::owner_read | fs::perms::owner_write);
    fs::permissions(dest / "run.sh", fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
    fs::create_hard_link(dest / "linked", root / "other-name");
    ASSERT_EQ(chown((dest / "owned").c_str(), 65534, 65534), getuid() == 0 ? 0 : -1);
    struct stat owned {};
    stat((dest / "owned").c_str(), &owned);

    ASSERT_TRUE(engine.Restore(Archive(), dest.string()));
    EXPECT_EQ(fs::status(dest / "key").permissions(), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(fs::status(dest / "run.sh").permissions(),
              fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
    EXPECT_EQ(ReadText(root / "other-name"), "new linked") << "the other name sees the new content";
    struct stat after {};
    stat((dest / "owned").c_str(), &after);
    EXPECT_EQ(after.st_uid, owned.st_uid);
    EXPECT_EQ(after.st_gid, owned.st_gid);
    const mode_t mask = umask(0);
    umask(mask);
    EXPECT_EQ(fs::status(dest / "fresh").permissions(), fs::perms(0666 & ~mask));
    EXPECT_EQ(ReadText(dest / "key"), "new key");
}
#endif

#ifdef __linux__
// A larger file restored over a hard-linked one is copied into it in place:
// its room is reserved first, so a disk that fills up (here after 1 MiB of
// the destination's bytes) fails before the old content changes, in both names.
TEST_F(Restore, aFullDiskLeavesAHardLinkedFileWhole)
{
    WriteBytes(src() / "linked", RandomBytes(3000000, 7));
    ASSERT_TRUE(BackupTree());
    const fs::path dest = root / "dest";
    const auto old = RandomBytes(1500000, 8);
    WriteBytes(dest / "linked", old);
    fs::create_hard_link(dest / "linked", root / "other-name");
    const std::string expected = (dest / "linked").string() + ": No space left on device";
    const int status = RunInChild([&] {
        if (!RefuseSystemCalls({{SYS_fallocate, ENOSPC}, {SYS_pwrite64, ENOSPC, 3, 1u << 20}}))
            return 2;
        engine.OnError = [](TBackupFile*, int, const std::string&) {};
        const bool ok = engine.Restore(Archive(), dest.string());
        return !ok && engine.ErrorCode() == errReadFile && engine.ErrorDetail() == expected ? 0 : 1;
    });
    if (status == 2)
        GTEST_SKIP() << "system calls cannot be filtered here";
    EXPECT_EQ(status, 0);
    EXPECT_EQ(ReadBytes(dest / "linked"), old);
    EXPECT_EQ(ReadBytes(root / "other-name"), old);
}

// Where a restore's data file needs a name (no unnamed files here), the name
// is private to the user until the file is sealed; a new file then gets the
// mode it would have been created with, a replaced one keeps its own.
TEST_F(Restore, namedTemporaryFilesArePrivateUntilSealed)
{
    WriteText(src() / "fresh", "fresh");
    WriteText(src() / "shared", "new shared");
    ASSERT_TRUE(BackupTree());
    const fs::path dest = root / "dest";
    WriteText(dest / "shared", "old shared");
    fs::permissions(dest / "shared", fs::perms(0644));
    const mode_t mask = umask(022);
    const int status = RunInChild([&] {
        if (!RefuseSystemCalls({{SYS_openat, EOPNOTSUPP, 2, 0, std::uint32_t(O_TMPFILE & ~O_DIRECTORY)}}))
            return 2;
        int named = 0;
        int exposed = 0;
        engine.OnFileRestored = [&](TBackupFile*, std::string&, Stream& data) {
            const FileIdentity written = dynamic_cast<FileStream&>(data).Identity();
            for (const auto& entry : fs::directory_iterator(dest)) {
                struct stat st {};
                if (lstat(entry.path().c_str(), &st) != 0 || st.st_ino != written.inode)
                    continue;
                named += entry.path().filename().string().rfind(".arcovelo-", 0) == 0 ? 1 : 0;
                exposed += (st.st_mode & 077) != 0 ? 1 : 0;
            }
        };
        return engine.Restore(Archive(), dest.string()) && named == 2 && exposed == 0 ? 0 : 1;
    });
    umask(mask);
    if (status == 2)
        GTEST_SKIP() << "system calls cannot be filtered here";
    EXPECT_EQ(status, 0);
    EXPECT_EQ(ReadText(dest / "fresh"), "fresh");
    EXPECT_EQ(fs::status(dest / "fresh").permissions(), fs::perms(0644));
    EXPECT_EQ(fs::status(dest / "shared").permissions(), fs::perms(0644));
    EXPECT_EQ(std::distance(fs::directory_iterator(dest), fs::directory_iterator()), 2);
}
#endif

#ifndef _WIN32  // POSIX only
// A file the user may write, in a folder the user may not, is restored in place.
TEST_F(Restore, aWritableFileInAFolderThatIsNotIsRestored)
{
    WriteText(src() / "f.txt", "new");
    ASSERT_TRUE(BackupTree());
    const fs::path dest = root / "dest";
    WriteText(dest / "f.txt", "old");
    fs::permissions(dest / "f.txt", fs::perms(0666));
    fs::permissions(dest, fs::perms(0755));
    fs::create_directories(root / "tmp");
    fs::permissions(root / "tmp", fs::perms(01777));
    const int status = RunInChild(
        [&] {
            setenv("TMPDIR", (root / "tmp").c_str(), 1);
            TBackupFile user;
            return user.Restore(Archive(), dest.string()) ? 0 : 1;
        },
        true);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(ReadText(dest / "f.txt"), "new");
    EXPECT_TRUE(fs::is_empty(root / "tmp"));
}
#endif

// Files are put in place in batches, yet each record sees what the records
// before it did: two files of one name restored into one folder without
// overwriting leave the first.
TEST_F(Restore, aLaterRecordSeesTheFilesRestoredBeforeIt)
{
    WriteText(src() / "a" / "x.txt", "first");
    WriteText(src() / "b" / "x.txt", "second");
    ASSERT_TRUE(BackupTree());
    engine.SetRestoreMode(rmNoOverwrite);
    ASSERT_TRUE(engine.Restore(Archive(), (root / "dest").string()));
    EXPECT_EQ(ReadText(root / "dest" / "x.txt"), "first");
    EXPECT_EQ(engine.ProcessedCount(), 1);
}

// Two files that land on one name (a restore without folders) are not merged:
// the first stays, the later one is named in a warning and not counted.
TEST_F(Restore, aSecondFileForTheSameNameIsWarnedAboutNotMerged)
{
    WriteText(src() / "d1" / "same.txt", "first");
    WriteText(src() / "d2" / "same.txt", "second");
    ASSERT_TRUE(BackupTree());
    std::vector<std::string> warnings;
    engine.OnWarning = [&](TBackupFile*, const std::string& text) { warnings.push_back(text); };
    ASSERT_TRUE(engine.Restore(Archive(), (root / "dest").string()));
    EXPECT_EQ(ReadText(root / "dest" / "same.txt"), "first");
    EXPECT_EQ(engine.ProcessedCount(), 1);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find((src() / "d2" / "same.txt").string()), std::string::npos) << warnings[0];
}

// A file counts as restored once it is in place: one whose placing fails
// does not.
TEST_F(Restore, aFileThatCannotBePutInPlaceIsNotCounted)
{
    WriteText(src() / "f.txt", "x");
    ASSERT_TRUE(BackupTree());
    auto faulty = std::make_shared<FaultyFileSystem>(native);
    faulty->fail = [](Op op, const std::string&) { return op == Op::Commit; };
    engine.SetFileSystem(faulty);
    engine.OnError = [](TBackupFile*, int, const std::string&) {};
    EXPECT_FALSE(engine.Restore(Archive(), (root / "dest").string()));
    EXPECT_EQ(engine.ErrorCode(), errReadFile);
    EXPECT_EQ(engine.ProcessedCount(), 0);
}

// Each folder that received files is synced once, after its files, and so is
// the parent of every folder the restore made, up to the first that existed.
TEST_F(Restore, eachTouchedFolderIsSyncedOnce)
{
    for (const char* path : {"a/1", "a/2", "a/3", "b/1"})
        WriteText(src() / path, path);
    ASSERT_TRUE(BackupTree());
    auto faulty = std::make_shared<FaultyFileSystem>(native);
    std::vector<std::string> synced;
    faulty->fail = [&](Op op, const std::string& path) {
        if (op == Op::SyncFolder)
            synced.push_back(path);
        return false;
    };
    engine.SetFileSystem(faulty);
    engine.SetRestoreFullPath(true);
    ASSERT_TRUE(engine.Restore(Archive(), (root / "dest").string()));
    std::sort(synced.begin(), synced.end());
    const fs::path below = root / "dest" / Relative(src());
    std::vector<std::string> expected{(below / "a").string(), (below / "b").string(), root.string()};
    for (fs::path made = below; made != root; made = made.parent_path())
        expected.push_back(made.string());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(synced, expected);
}

#ifndef _WIN32  // POSIX only
// kill -9 while a file is being replaced: the old file stays, and nothing of
// ours is left in the folder; leftovers of a dead restore are cleared by the
// next one.
TEST_F(Restore, aKilledRestoreLeavesTheOldFileAndNoTemporaryFile)
{
    WriteBytes(src() / "big.bin", RandomBytes(100000));
    ASSERT_TRUE(BackupTree());
    const fs::path dest = root / "dest";
    WriteText(dest / "big.bin", "previous");
    auto faulty = std::make_shared<FaultyFileSystem>(native);
    int writes = 0;
    faulty->fail = [&](Op op, const std::string& path) {
        if (op == Op::Write && path.find("big.bin") != std::string::npos && ++writes == 3)
            raise(SIGKILL);
        return false;
    };
    engine.SetFileSystem(faulty);
    EXPECT_EQ(RunInChild([&] { return engine.Restore(Archive(), dest.string()) ? 0 : 1; }), 128 + SIGKILL);
    EXPECT_EQ(ReadText(dest / "big.bin"), "previous");
    EXPECT_EQ(std::distance(fs::directory_iterator(dest), fs::directory_iterator()), 1);

    const pid_t gone = fork();  // a process that has ended: its leftovers may go
    if (gone == 0)
        _exit(0);
    waitpid(gone, nullptr, 0);
    const fs::path leftover = dest / (".arcovelo-" + std::to_string(gone) + "-abcdef");
    const fs::path running = dest / (".arcovelo-" + std::to_string(getpid()) + "-abcdef");
    WriteText(leftover, "left by a killed restore");
    WriteText(running, "a restore still running");
    engine.SetFileSystem(MakeNativeFileSystem((root / "state" / "flags.sqlite").string()));
    ASSERT_TRUE(engine.Restore(Archive(), dest.string()));
    EXPECT_FALSE(fs::exists(leftover));
    EXPECT_TRUE(fs::exists(running));
    EXPECT_EQ(ReadBytes(dest / "big.bin"), ReadBytes(src() / "big.bin"));
}
#endif

#ifndef _WIN32  // POSIX only
// Only what a killed restore of this user left goes: a name of exactly the
// temporary shape, a regular file with one link, owned by the user, never
// anything through a link.
TEST_F(Restore, onlyItsOwnLeftoversAreRemoved)
{
    WriteText(src() / "f.txt", "new");
    ASSERT_TRUE(BackupTree());
    const pid_t gone = fork();
    if (gone == 0)
        _exit(0);
    waitpid(gone, nullptr, 0);
    const std::string stem = ".arcovelo-" + std::to_string(gone) + "-";
    const fs::path dest = root / "dest";
    WriteText(dest / (stem + "a1B2c3"), "left by a killed restore");
    const std::vector<std::string> kept{".arcovelo-2024-notes.txt", stem + "notes.txt", stem + "a1B2c", stem + "a1B2c3d",
                                        stem + "linked", stem + "symlnk", stem + "nobody"};
    for (const auto& name : kept)
        if (name != stem + "symlnk")
            WriteText(dest / name, name);
    fs::create_hard_link(dest / (stem + "linked"), root / "other-name");
    WriteText(root / "target.txt", "target");
    fs::remove(dest / (stem + "symlnk"));
    fs::create_symlink(root / "target.txt", dest / (stem + "symlnk"));
    if (getuid() == 0)
        ASSERT_EQ(chown((dest / (stem + "nobody")).c_str(), 65534, 65534), 0);
    else
        fs::remove(dest / (stem + "nobody"));

    ASSERT_TRUE(engine.Restore(Archive(), dest.string()));
    EXPECT_FALSE(fs::exists(dest / (stem + "a1B2c3")));
    for (const auto& name : kept)
        EXPECT_TRUE(fs::exists(fs::symlink_status(dest / name)) || (name == stem + "nobody" && getuid() != 0)) << name;
    EXPECT_EQ(ReadText(root / "target.txt"), "target");
    EXPECT_EQ(ReadText(dest / "f.txt"), "new");
}
#endif

TEST_F(Restore, onRestoreFileCanForceAWriteAndNeverSeesTheFileList)
{
    WriteText(src() / "f.txt", "archived");
    engine.SetSaveFileID(true);
    ASSERT_TRUE(BackupTree());
    WriteText(root / "dest" / "f.txt", "present");
    std::vector<std::string> offered;
    engine.SetRestoreMode(rmNoOverwrite);
    engine.OnRestoreFile = [&](TBackupFile*, std::string& name, std::int32_t, bool& doRestore) {
        offered.push_back(name);
        EXPECT_FALSE(doRestore);
        doRestore = true;
    };
    std::vector<std::string> restored;
    engine.OnFileRestored = [&](TBackupFile*, std::string& name, Stream& s) {
        restored.push_back(name);
        EXPECT_EQ(s.Position(), 8);
    };
    ASSERT_TRUE(engine.Restore(Archive(), (root / "dest").string()));
    EXPECT_EQ(offered, (std::vector<std::string>{(root / "dest" / "f.txt").string()}));
    EXPECT_EQ(restored, offered);
    EXPECT_EQ(ReadText(root / "dest" / "f.txt"), "archived");
}

TEST_F(Restore, onRestoreFileCanRedirectTheDestination)
{
    WriteText(src() / "f.txt", "archived");
    ASSERT_TRUE(BackupTree());
    engine.OnRestoreFile = [&](TBackupFile*, std::string& name, std::int32_t, bool&) {
        name = (root / "elsewhere" / "g.txt").string();
    };
    ASSERT_TRUE(engine.Restore(Archive(), (root / "dest").string()));
    EXPECT_TRUE(fs::exists(root / "elsewhere" / "g.txt"));
}

TEST_F(Restore, aFileSplitOverVolumesIsAskedForOnceAppendedAndCountedOnce)
{
    WriteBytes(src() / "r.bin", RandomBytes(2000000));
    SetMtime(src() / "r.bin", 1700000000);
    engine.SetMaxSize(1400000);
    engine.OnNeedDisk = [](TBackupFile*, std::uint16_t, bool& cont) { cont = true; };
    ASSERT_TRUE(BackupTree());
    engine.OnNeedDisk = nullptr;

    host->answers = {true};
    int parts = 0;
    engine.OnFileRestored = [&](TBackupFile*, std::string&, Stream&) { ++parts; };
    std::vector<int> percents;
    engine.OnProgress = [&](TBackupFile*, const std::string&, TPercentage p, bool&) { percents.push_back(p); };
    ASSERT_TRUE(engine.Restore(Archive(), (root / "dest").string()));
    EXPECT_EQ(host->prompts, (std::vector<std::string>{"Please insert disk 2 and click OK to continue."}))
        << "asked once although the volume is already there";
    EXPECT_EQ(parts, 2);
    EXPECT_EQ(engine.ProcessedCount(), 1);
    EXPECT_EQ(ReadBytes(root / "dest" / "r.bin"), RandomBytes(2000000));
    EXPECT_EQ(Mtime(root / "dest" / "r.bin"), 1700000000);
    EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()));
    EXPECT_EQ(percents.back(), 100);
}

TEST_F(Restore, cancellingTheNextDiskKeepsThePreviousFileUntouched)
{
    WriteBytes(src() / "r.bin", RandomBytes(2000000));
    engine.SetMaxSize(1400000);
    engine.OnNeedDisk = [](TBackupFile*, std::uint16_t, bool& cont) { cont = true; };
    ASSERT_TRUE(BackupTree());
    engine.OnNeedDisk = nullptr;
    WriteText(root / "dest" / "r.bin", "previous");
    host->answers = {false};
    EXPECT_FALSE(engine.Restore(Archive(), (root / "dest").string()));
    EXPECT_EQ(engine.ErrorCode(), 0);
    EXPECT_EQ(ReadText(root / "dest" / "r.bin"), "previous");
    EXPECT_EQ(std::distance(fs::directory_iterator(root / "dest"), fs::directory_iterator()), 1)
        << "no temporary file left behind";
}

TEST_F(Restore, progressReaches100OnlyAtTheEndWhenFilesAreSkipped)
{
    WriteBytes(src() / "a.txt", TextBytes(40000));
    WriteBytes(src() / "b.txt", TextBytes(40000));
    ASSERT_TRUE(BackupTree());
    engine.OnRestoreFile = [](TBackupFile*, std::string& name, std::int32_t, bool& doRestore) {
        doRestore = name.find("a.txt") != std::string::npos;
    };
    std::vector<std::pair<std::string, int>> calls;
    engine.OnProgress = [&](TBackupFile*, const std::string& f, TPercentage p, bool&) { calls.emplace_back(f, p); };
    ASSERT_TRUE(engine.Restore(Archive(), (root / "dest").string()));
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ(calls[calls.size() - 2].second, 50);
    EXPECT_EQ(calls.back(), (std::pair<std::string, int>{"", 100}));
}

TEST_F(Restore, anArchiveWithoutEndMarkerRestoresItsCompleteRecordsThenFails)
{
    WriteBytes(src() / "a.txt", TextBytes(1000));
    WriteBytes(src() / "b.txt", TextBytes(40000));
    ASSERT_TRUE(BackupTree());
    fs::resize_file(Archive(), fs::file_size(Archive()) - 4);  // the end marker goes

    EXPECT_THROW(engine.Restore(Archive(), (root / "dest").string()), StreamError);
    EXPECT_FALSE(engine.Busy());
    EXPECT_EQ(ReadBytes(root / "dest" / "a.txt"), TextBytes(1000));
    EXPECT_FALSE(fs::exists(root / "dest" / "b.txt")) << "cut short: not put in place";

    std::vector<ArchiveDamage> damage;
    EXPECT_FALSE(engine.TestArchive(Archive(), damage));
    ASSERT_FALSE(damage.empty());
    EXPECT_NE(damage.back().what.find("end marker"), std::string::npos);
}

TEST_F(Restore, missingArchiveReturnsFalseSilentlyAndAnUnreadableOneThrows)
{
    EXPECT_FALSE(engine.Restore(Archive("none.bck"), ""));
    EXPECT_TRUE(host->errors.empty());
    fs::create_directories(root / "folder.bck");
    try {
        engine.Restore(Archive("folder.bck"), "");
        FAIL() << "expected an exception";
    } catch (const ArchiveError& e) {
        EXPECT_STREQ(e.what(), "Cannot read archive");
    }
    EXPECT_FALSE(engine.Busy());
    WriteBytes(root / "short.bck", {5, 0, 0, 0, 'a'});
    EXPECT_THROW(engine.Restore(Archive("short.bck"), ""), ArchiveError);
}

class ArchiveInfo : public Restore {
protected:
    std::vector<int> codes;
    void SetUp() override
    {
        Restore::SetUp();
        engine.OnError = [this](TBackupFile*, int code, const std::string&) { codes.push_back(code); };
    }
};

TEST_F(ArchiveInfo, readsTitleCountsAndTheFileList)
{
    WriteText(src() / "a.txt", "hello");
    engine.SetSaveFileID(true);
    engine.SetBackupTitle("Lavoro");
    ASSERT_TRUE(BackupTree());
    TBackupFile reader;
    std::vector<std::string> list{"old"};
    std::string title;
    reader.GetArchiveInfo(Archive(), &list, title);
    EXPECT_EQ(title, "Lavoro");
    EXPECT_EQ(reader.FileCount(), 1);
    const std::string line = (src() / "a.txt").string() + "\t" + std::to_string(DosStampFromTime(Mtime(src() / "a.txt"))) + "=5";
    EXPECT_EQ(list, (std::vector<std::string>{line}));
    EXPECT_EQ(reader.TotalSize(), 5 + std::int64_t(line.size()) + 2);
}

// The list may begin on the second volume (at the smallest volume size the
// first holds just its record's name) and run over several: it comes back whole.
TEST_F(ArchiveInfo, aFileListSplitOverVolumesIsReadWhole)
{
    for (int i = 0; i < 600; ++i)
        WriteText(src() / ("file-with-a-longer-name-" + std::to_string(i) + ".txt"), "x");
    engine.SetSaveFileID(true);
    engine.OnNeedDisk = [](TBackupFile*, std::uint16_t, bool& cont) { cont = true; };
    for (std::int32_t size : {std::int32_t(20000), std::int32_t(format::kMinVolumeSize)}) {
        engine.SetMaxSize(size);
        ASSERT_TRUE(BackupTree());
        ASSERT_TRUE(fs::exists(root / "a.003")) << size;
        std::vector<std::string> list;
        std::string title;
        TBackupFile reader;
        reader.GetArchiveInfo(Archive(), &list, title);
        ASSERT_EQ(list.size(), 600u) << size;
        EXPECT_EQ(list.back().substr(list.back().size() - 2), "=1") << "the last line is whole";
        EXPECT_TRUE(codes.empty());
    }
}

TEST_F(ArchiveInfo, withoutFileListLeavesTheListUntouched)
{
    WriteText(src() / "a.txt", "hello");
    ASSERT_TRUE(BackupTree());
    std::vector<std::string> list{"kept"};
    std::string title = "x";
    engine.GetArchiveInfo(Archive(), &list, title);
    EXPECT_EQ(list, (std::vector<std::string>{"kept"}));
    EXPECT_EQ(title, "");
    EXPECT_TRUE(codes.empty());
}

// An archive written by hand: a header and a file-ID list record whose text is
// `chunks`, each stored raw; then the end marker. Rewound.
void WriteListArchive(MemoryStream& s, const std::vector<std::string>& chunks)
{
    s.WriteInt32(0);
    s.WriteInt32(10);
    s.WriteInt32(1);
    s.WriteInt32(9);
    s.WriteBuffer("FILE:LIST", 9);
    s.WriteInt32(0);
    s.WriteBuffer("EC2\0", 4);
    for (const auto& chunk : chunks) {
        s.WriteInt32(-std::int32_t(chunk.size()));
        s.WriteBuffer(chunk.data(), chunk.size());
    }
    s.WriteInt32(0);
    s.WriteInt32(0);
    s.Seek(0, SeekOrigin::Begin);
}

TEST_F(ArchiveInfo, splitsListLinesAtCrLfCrOrLf)
{
    // A list record written by hand: one stored chunk holding three line ends,
    // and a name that holds line ends itself.
    const std::string text = "a\t1=1\r\nb\t2=2\rc\t3=3\nd\t4=4\r\nn\ne\r\nw\t5=5\r\n";
    MemoryStream s;
    WriteListArchive(s, {text});
    engine.SetInStream(&s);
    std::vector<std::string> list;
    std::string title;
    engine.GetArchiveInfo(":STREAM", &list, title);
    EXPECT_EQ(list, (std::vector<std::string>{"a\t1=1", "b\t2=2", "c\t3=3", "d\t4=4", "n\ne\r\nw\t5=5"}));
}

// A crafted list of millions of empty lines is refused (code 5) instead of
// being split into gigabytes of strings.
TEST_F(ArchiveInfo, aListOfMoreLinesThanItsBoundIsInvalid)
{
    const std::string newlines(16384, '\n');
    MemoryStream s;
    WriteListArchive(s, std::vector<std::string>(format::kMaxFileListLines / newlines.size() + 1, newlines));
    engine.SetInStream(&s);
    std::vector<int> codes;
    engine.OnError = [&](TBackupFile*, int code, const std::string&) { codes.push_back(code); };
    std::vector<std::string> list{"kept"};
    std::string title;
    engine.GetArchiveInfo(":STREAM", &list, title);
    EXPECT_EQ(codes, (std::vector<int>{5}));
    EXPECT_EQ(list, (std::vector<std::string>{"kept"}));
}

TEST_F(ArchiveInfo, reportsMissingUnreadableAndInvalidArchives)
{
    std::vector<std::string> list;
    std::string title;
    engine.GetArchiveInfo(Archive("none.bck"), &list, title);
    EXPECT_TRUE(codes.empty()) << "missing: silent";

    fs::create_directories(root / "folder.bck");
    engine.GetArchiveInfo(Archive("folder.bck"), &list, title);
    EXPECT_EQ(codes, (std::vector<int>{3}));

    WriteBytes(root / "short.bck", {3, 0, 0, 0, 'a', 'b'});
    engine.GetArchiveInfo(Archive("short.bck"), &list, title);
    WriteBytes(root / "tag.bck", {0, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 9, 0, 0, 0, 'F', 'I', 'L', 'E', ':', 'L', 'I',
                                  'S', 'T', 0, 0, 0, 0, 'E', 'C', '3', 0});
    engine.GetArchiveInfo(Archive("tag.bck"), &list, title);
    EXPECT_EQ(codes, (std::vector<int>{3, 5, 5}));
    EXPECT_TRUE(list.empty());
}

TEST_F(Restore, checkFindsEveryDamagedChunkAndPassesASoundArchive)
{
    WriteBytes(src() / "a.txt", TextBytes(60000));
    ASSERT_TRUE(BackupTree());
    std::vector<ArchiveDamage> damage;
    EXPECT_TRUE(engine.TestArchive(Archive(), damage));
    EXPECT_TRUE(damage.empty());

    // Corrupt the deflate data of the second chunk: framing stays intact.
    auto bytes = ReadBytes(Archive());
    auto a = ParseVolume(bytes);
    const auto& chunk = a.records.at(0).chunks.at(1);
    const auto where = std::search(bytes.begin(), bytes.end(), chunk.payload.begin(), chunk.payload.end());
    ASSERT_NE(where, bytes.end());
    *(where + 5) ^= 0xFF;
    *(where + 6) ^= 0xFF;
    WriteBytes(Archive("bad.bck"), bytes);
    EXPECT_FALSE(engine.TestArchive(Archive("bad.bck"), damage));
    ASSERT_EQ(damage.size(), 1u);
    EXPECT_EQ(damage[0].file, (src() / "a.txt").string());
    EXPECT_NE(damage[0].what.find("chunk 2"), std::string::npos);

    std::vector<int> codes;
    engine.OnError = [&](TBackupFile*, int code, const std::string&) { codes.push_back(code); };
    EXPECT_FALSE(engine.Restore(Archive("bad.bck"), (root / "dest").string()));
    EXPECT_EQ(codes, (std::vector<int>{6}));
    EXPECT_FALSE(fs::exists(root / "dest" / "a.txt")) << "a damaged file is not put in place";
}

// Volumes follow each other by number: swapped or missing ones make an
// invalid archive for the check and for a restore, and what the numbers
// cannot tell (a three-volume archive whose .003 stands as .002) the check
// finds against the file-ID list and the header's count.
TEST_F(Restore, volumesOutOfOrderAndRecordsThatDisagreeAreDamage)
{
    WriteBytes(src() / "r.bin", RandomBytes(100000));
    engine.SetSaveFileID(true);
    engine.SetMaxSize(40000);
    engine.OnNeedDisk = [](TBackupFile*, std::uint16_t, bool& cont) { cont = true; };
    ASSERT_TRUE(BackupTree());
    ASSERT_TRUE(fs::exists(root / "a.004"));
    std::vector<ArchiveDamage> damage;
    ASSERT_TRUE(engine.TestArchive(Archive(), damage));

    fs::rename(root / "a.002", root / "a.tmp");
    fs::rename(root / "a.003", root / "a.002");
    fs::rename(root / "a.tmp", root / "a.003");
    EXPECT_FALSE(engine.TestArchive(Archive(), damage));
    ASSERT_FALSE(damage.empty());
    EXPECT_NE(damage.back().what.find("Invalid archive type"), std::string::npos) << damage.back().what;
    EXPECT_THROW(engine.Restore(Archive(), (root / "dest").string()), ArchiveError);
    EXPECT_FALSE(fs::exists(root / "dest" / "r.bin"));

    WriteBytes(src() / "r.bin", RandomBytes(90000));
    ASSERT_TRUE(BackupTree());
    ASSERT_TRUE(fs::exists(root / "a.003"));
    ASSERT_FALSE(fs::exists(root / "a.004"));
    fs::rename(root / "a.003", root / "a.002");
    damage.clear();
    EXPECT_FALSE(engine.TestArchive(Archive(), damage));
    ASSERT_EQ(damage.size(), 1u);
    EXPECT_EQ(damage[0].file, (src() / "r.bin").string());
    EXPECT_NE(damage[0].what.find("90000"), std::string::npos) << damage[0].what;

    engine.SetMaxSize(0);
    ASSERT_TRUE(BackupTree());
    auto bytes = ReadBytes(Archive());
    bytes.at(8) = 2;  // the header's file count (empty title, total size, count)
    WriteBytes(Archive(), bytes);
    damage.clear();
    EXPECT_FALSE(engine.TestArchive(Archive(), damage));
    ASSERT_EQ(damage.size(), 1u);
    EXPECT_NE(damage[0].what.find("header says 2"), std::string::npos) << damage[0].what;
}

}  // namespace
}  // namespace arcovelo::test
