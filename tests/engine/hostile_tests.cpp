// Damaged and hostile archives: whatever an archive says, reading it never
// crashes, hangs, allocates without bound or writes outside the destination.
#include "test_support.h"

#include <zlib.h>

#include <random>
#include <set>

namespace arcovelo::test {
namespace {

// Writes archives field by field, including fields no writer would produce.
class ArchiveBuilder {
public:
    ArchiveBuilder& Header(std::int32_t titleLength = 0, std::int32_t total = 100, std::int32_t count = 1)
    {
        s_.WriteInt32(titleLength);
        s_.WriteInt32(total);
        s_.WriteInt32(count);
        return *this;
    }
    ArchiveBuilder& Name(const std::string& name)
    {
        s_.WriteInt32(static_cast<std::int32_t>(name.size()));
        s_.WriteBuffer(name.data(), name.size());
        return *this;
    }
    ArchiveBuilder& Record(const std::string& name, const std::string& content)
    {
        Name(name);
        s_.WriteInt32(0x5A000000);  // 2025-01-00: not a valid date, left alone
        s_.WriteBuffer("EC2\0", 4);
        Raw(content);
        return GroupEnd();
    }
    ArchiveBuilder& Int(std::int32_t v)
    {
        s_.WriteInt32(v);
        return *this;
    }
    ArchiveBuilder& Raw(const std::string& bytes)
    {
        s_.WriteInt32(-static_cast<std::int32_t>(bytes.size()));
        s_.WriteBuffer(bytes.data(), bytes.size());
        return *this;
    }
    ArchiveBuilder& Compressed(const std::vector<std::uint8_t>& stream)
    {
        s_.WriteInt32(static_cast<std::int32_t>(stream.size()));
        s_.WriteBuffer(stream.data(), stream.size());
        return *this;
    }
    ArchiveBuilder& Tag()
    {
        s_.WriteBuffer("EC2\0", 4);
        return *this;
    }
    ArchiveBuilder& GroupEnd() { return Int(0); }
    ArchiveBuilder& End() { return Int(0); }
    void Save(const fs::path& path) const { WriteBytes(path, s_.Bytes()); }

private:
    MemoryStream s_;
};

std::vector<std::uint8_t> Zlib(const std::vector<std::uint8_t>& plain)
{
    std::vector<std::uint8_t> out(compressBound(plain.size()));
    uLongf size = out.size();
    compress(out.data(), &size, plain.data(), plain.size());
    out.resize(size);
    return out;
}

class Hostile : public EngineTest {
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        fs::create_directories(jail() / "dest");
        WriteText(jail() / "sentinel.txt", "untouched");
        WriteText(root / "outside.txt", "outside");
        engine.OnError = [this](TBackupFile*, int code, const std::string&) { codes.push_back(code); };
    }
    fs::path jail() const { return root / "jail"; }
    std::string dest() const { return (jail() / "dest").string(); }
    std::string Archive() const { return (root / "h.bck").string(); }

    // Everything in the jail but the destination folder is as it was, and so
    // is the file beside it.
    void ExpectNothingOutsideTheDestination()
    {
        std::set<std::string> found;
        for (auto it = fs::recursive_directory_iterator(jail()); it != fs::recursive_directory_iterator(); ++it) {
            if (it->path() == jail() / "dest") {
                it.disable_recursion_pending();
                continue;
            }
            found.insert(fs::relative(it->path(), jail()).string());
        }
        EXPECT_EQ(found, (std::set<std::string>{"sentinel.txt"}));
        EXPECT_EQ(ReadText(jail() / "sentinel.txt"), "untouched");
        EXPECT_EQ(ReadText(root / "outside.txt"), "outside");
    }

    // Restores, swallowing the exceptions a damaged archive may raise.
    void RestoreIgnoringExceptions(const std::string& archive, bool fullPath)
    {
        engine.SetRestoreFullPath(fullPath);
        try {
            engine.Restore(archive, dest());
        } catch (const std::runtime_error&) {
            // damaged archives may end a restore this way
        }
        EXPECT_FALSE(engine.Busy());
    }

    std::vector<int> codes;
};


struct NameCase {
    const char* name;
    bool fullPath;
};

#ifndef _WIN32  // POSIX names and links
class HostileNames : public Hostile, public ::testing::WithParamInterface<NameCase> {};

TEST_P(HostileNames, failWithCode1AndWriteNothingOutside)
{
    fs::create_directory_symlink(jail(), jail() / "dest" / "lnk");
    fs::create_symlink(jail() / "sentinel.txt", jail() / "dest" / "file-link");
    ArchiveBuilder().Header().Record(GetParam().name, "evil").End().Save(Archive());
    engine.SetRestoreFullPath(GetParam().fullPath);
    EXPECT_FALSE(engine.Restore(Archive(), dest()));
    EXPECT_EQ(codes, (std::vector<int>{1}));
    fs::remove(jail() / "dest" / "lnk");
    fs::remove(jail() / "dest" / "file-link");
    ExpectNothingOutsideTheDestination();
}

INSTANTIATE_TEST_SUITE_P(
    Names, HostileNames,
    ::testing::Values(NameCase{"/../sentinel.txt", true}, NameCase{"/a/../../sentinel.txt", true},
                      NameCase{"/./x.txt", true}, NameCase{"//x.txt", true}, NameCase{"/dir/", true},
                      NameCase{"c:\\..\\sentinel.txt", true}, NameCase{"\\\\server\\..\\..\\x.txt", true},
                      NameCase{"relative/../../x.txt", true}, NameCase{"/lnk/sentinel.txt", true},
                      NameCase{"/file-link", true}, NameCase{"/dir/..", false}, NameCase{"/dir/.", false},
                      NameCase{"/dir/", false}, NameCase{"/x/file-link", false},
                      NameCase{"c:\\dati\\..", false}),
    [](const auto& info) { return std::to_string(info.index) + (info.param.fullPath ? "FullPath" : "FileNameOnly"); });

#endif

// A file, then a record that needs the file's name as a folder: the file is
// written and the later record fails as it would after it, one at a time.
TEST_F(Hostile, aFileIsInPlaceBeforeALaterRecordNeedsItsNameAsAFolder)
{
    ArchiveBuilder().Header(0, 10, 2).Record("/r/a", "first").Record("/r/a/b", "second").End().Save(Archive());
    engine.SetRestoreFullPath(true);
    EXPECT_FALSE(engine.Restore(Archive(), dest()));
    EXPECT_EQ(codes, (std::vector<int>{1}));
    const fs::path a = jail() / "dest" / "r" / "a";
    EXPECT_EQ(ReadText(a), "first");
    EXPECT_EQ(engine.ProcessedCount(), 1);
    EXPECT_EQ(engine.ErrorDetail(), a.string() + ": Not a directory");
}

#ifndef _WIN32  // POSIX only
TEST_F(Hostile, windowsNamesRestoreBelowAFolderButNotToTheirStoredPath)
{
    ArchiveBuilder().Header(0, 10, 2).Record("c:\\dati\\a.txt", "a").Record("\\\\srv\\share\\b.txt", "b").End().Save(Archive());
    engine.SetRestoreFullPath(true);
    ASSERT_TRUE(engine.Restore(Archive(), dest()));
    EXPECT_EQ(ReadText(jail() / "dest" / "dati" / "a.txt"), "a");
    EXPECT_EQ(ReadText(jail() / "dest" / "srv" / "share" / "b.txt"), "b");
    engine.SetRestoreFullPath(false);
    ASSERT_TRUE(engine.Restore(Archive(), (root / "flat").string()));
    EXPECT_EQ(ReadText(root / "flat" / "a.txt"), "a");

    EXPECT_FALSE(engine.Restore(Archive(), ""));
    EXPECT_EQ(codes, (std::vector<int>{1}));
    ArchiveBuilder().Header().Record("relative.txt", "r").End().Save(Archive());
    EXPECT_FALSE(engine.Restore(Archive(), ""));
    EXPECT_EQ(codes, (std::vector<int>{1, 1}));
}
#else
// On Windows a name may also leave through a drive, a stream, a device name,
// a trailing dot (which Win32 drops) or a '\' inside a POSIX name.
class WindowsHostileNames : public Hostile, public ::testing::WithParamInterface<NameCase> {};

TEST_P(WindowsHostileNames, failWithCode1AndWriteNothingOutside)
{
    ArchiveBuilder().Header().Record(GetParam().name, "evil").End().Save(Archive());
    engine.SetRestoreFullPath(GetParam().fullPath);
    EXPECT_FALSE(engine.Restore(Archive(), dest()));
    EXPECT_EQ(codes, (std::vector<int>{1}));
    ExpectNothingOutsideTheDestination();
}

INSTANTIATE_TEST_SUITE_P(
    Names, WindowsHostileNames,
    ::testing::Values(NameCase{"c:\\..\\sentinel.txt", true}, NameCase{"\\\\server\\..\\..\\x.txt", true},
                      NameCase{"/x/..\\..\\sentinel.txt", true}, NameCase{"/x/c:sentinel.txt", true},
                      NameCase{"/x/a.txt:stream", true}, NameCase{"/x/nul", true}, NameCase{"/x/com1.txt", true},
                      NameCase{"/x/dir./f.txt", true}, NameCase{"/x/f.txt ", true}, NameCase{"c:\\dati\\con", false},
                      NameCase{"c:\\dati\\..", false}, NameCase{"/x/..", false}),
    [](const auto& info) { return std::to_string(info.index) + (info.param.fullPath ? "FullPath" : "FileNameOnly"); });

// A drive path goes back where it was stored, or below a folder without its
// drive; a POSIX path has no place of its own here.
TEST_F(Hostile, windowsNamesRestoreToTheirStoredPathAndBelowAFolder)
{
    const std::string stored = (root / "stored" / "a.txt").string();
    ArchiveBuilder().Header(0, 10, 2).Record(stored, "a").Record("\\\\srv\\share\\b.txt", "b").End().Save(Archive());
    engine.SetRestoreFullPath(true);
    ASSERT_TRUE(engine.Restore(Archive(), dest()));
    EXPECT_EQ(ReadText(jail() / "dest" / fs::path(stored).relative_path()), "a");
    EXPECT_EQ(ReadText(jail() / "dest" / "srv" / "share" / "b.txt"), "b");

    ArchiveBuilder().Header().Record(stored, "back").End().Save(Archive());
    ASSERT_TRUE(engine.Restore(Archive(), ""));
    EXPECT_EQ(ReadText(stored), "back");
    ArchiveBuilder().Header().Record("/x/posix.txt", "p").End().Save(Archive());
    EXPECT_FALSE(engine.Restore(Archive(), ""));
    EXPECT_EQ(codes, (std::vector<int>{1}));
}
#endif

TEST_F(Hostile, chunksOutsideTheFormatFailTheFileBeingWritten)
{
    std::vector<std::uint8_t> tooLarge = Zlib(std::vector<std::uint8_t>(20000, 'z'));
    std::vector<std::uint8_t> unended = Zlib(TextBytes(3000));
    unended.resize(unended.size() / 2);
    std::vector<std::uint8_t> corrupt = Zlib(TextBytes(3000));
    corrupt[corrupt.size() - 1] ^= 0xFF;  // Adler-32 no longer matches
    struct Case {
        ArchiveBuilder archive;
        int code;
    };
    std::vector<Case> cases;
    for (std::int32_t length : {16385, -16385, INT32_MIN, INT32_MAX}) {
        ArchiveBuilder b;
        b.Header().Name("/x/f.txt").Int(0).Tag().Int(length).Int(0).GroupEnd().End();
        cases.push_back({b, 1});
    }
    for (const auto* stream : {&tooLarge, &unended}) {
        ArchiveBuilder b;
        b.Header().Name("/x/f.txt").Int(0).Tag().Compressed(*stream).GroupEnd().End();
        cases.push_back({b, 1});
    }
    ArchiveBuilder b;
    b.Header().Name("/x/f.txt").Int(0).Tag().Compressed(corrupt).GroupEnd().End();
    cases.push_back({b, 6});
    for (auto& c : cases) {
        codes.clear();
        c.archive.Save(Archive());
        EXPECT_FALSE(engine.Restore(Archive(), dest()));
        EXPECT_EQ(codes, (std::vector<int>{c.code}));
        EXPECT_FALSE(fs::exists(jail() / "dest" / "f.txt"));
        std::vector<ArchiveDamage> damage;
        EXPECT_FALSE(engine.TestArchive(Archive(), damage));
        EXPECT_FALSE(damage.empty());
    }
    ExpectNothingOutsideTheDestination();
}

TEST_F(Hostile, lengthsBeyondTheArchiveAreRefusedWithoutAllocating)
{
    std::vector<std::string> list;
    std::string title;
    ArchiveBuilder().Header(0x7FFFFFFF).Save(Archive());
    engine.GetArchiveInfo(Archive(), &list, title);
    EXPECT_THROW(engine.Restore(Archive(), dest()), ArchiveError);
    ArchiveBuilder().Header(-5).Save(Archive());
    engine.GetArchiveInfo(Archive(), &list, title);
    ArchiveBuilder().Header().Int(0x7FFFFFFF).Save(Archive());
    engine.GetArchiveInfo(Archive(), &list, title);
    EXPECT_THROW(engine.Restore(Archive(), dest()), ArchiveError);
    EXPECT_EQ(codes, (std::vector<int>{5, 5, 5}));

    // A skipped file's chunks are passed over by their lengths, still checked.
    ArchiveBuilder().Header().Name("/x/f.txt").Int(0).Tag().Int(INT32_MIN).Save(Archive());
    engine.SetRestoreMode(rmExisting);
    EXPECT_THROW(engine.Restore(Archive(), dest()), ArchiveError);
}

TEST_F(Hostile, volumeRecordsMustNameALaterVolume)
{
    engine.OnNeedDisk = [](TBackupFile*, std::uint16_t, bool& cont) { cont = true; };
    for (const char* record : {"NEXT:DISK001", "NEXT:DISK/.."}) {
        ArchiveBuilder().Header().Record("/x/a.txt", "a").Record("/x/b.txt", "b").Name(record).Save(Archive());
        EXPECT_THROW(engine.Restore(Archive(), dest()), ArchiveError);
        EXPECT_EQ(ReadText(jail() / "dest" / "a.txt"), "a") << "a whole file before the damage is restored";
        EXPECT_FALSE(fs::exists(jail() / "dest" / "b.txt")) << "b goes on in a volume that cannot be read";
    }
}

// Truncates and flips a real three-volume archive everywhere that matters.
class DamagedVolumes : public Hostile {
protected:
    void SetUp() override
    {
        Hostile::SetUp();
        WriteBytes(root / "src" / "r.bin", RandomBytes(70000));
        WriteBytes(root / "src" / "t.txt", TextBytes(300000));
        WriteText(root / "src" / "e.txt", "");
        engine.SetSaveFileID(true);
        engine.SetMaxSize(40000);
        fs::create_directories(root / "set");
        engine.OnNeedDisk = [](TBackupFile*, std::uint16_t, bool& cont) { cont = true; };
        ASSERT_TRUE(engine.Backup({(root / "src" / "*").string()}, (root / "set" / "a.bck").string()));
        for (const auto& entry : fs::directory_iterator(root / "set"))
            volumes.push_back(entry.path().filename().string());
        std::sort(volumes.begin(), volumes.end());
        ASSERT_GE(volumes.size(), 3u);
        // A missing volume is asked for once more, then given up.
        engine.OnNeedDisk = [asked = 0](TBackupFile*, std::uint16_t disk, bool& cont) mutable {
            cont = asked != disk;
            asked = disk;
        };
    }

    // Copies the set, lets `damage` change one volume's bytes, then restores and checks it.
    void RunDamaged(std::size_t volume, const std::function<void(std::vector<std::uint8_t>&)>& damage, bool fullPath)
    {
        fs::remove_all(root / "work");
        fs::create_directories(root / "work");
        for (std::size_t v = 0; v < volumes.size(); ++v) {
            auto bytes = ReadBytes(root / "set" / volumes[v]);
            if (v == volume)
                damage(bytes);
            WriteBytes(root / "work" / volumes[v], bytes);
        }
        const std::string archive = (root / "work" / "a.bck").string();
        RestoreIgnoringExceptions(archive, fullPath);
        restoredFiles += engine.ProcessedCount();
        std::vector<ArchiveDamage> found;
        engine.TestArchive(archive, found);
        std::vector<std::string> list;
        std::string title;
        engine.GetArchiveInfo(archive, &list, title);
        ++runs;
    }

    std::vector<std::string> volumes;
    int runs = 0;
    int restoredFiles = 0;  // the damage left enough intact to restore something
};

TEST_F(DamagedVolumes, truncationAtEveryHeaderOffsetAndAtRandomNeverEscapes)
{
    for (std::size_t v = 0; v < volumes.size(); ++v)
        for (std::size_t cut = 0; cut < 200; ++cut)
            RunDamaged(v, [cut](auto& bytes) { bytes.resize(std::min(bytes.size(), cut)); }, v % 2 == 0);
    std::mt19937 gen(7);
    for (int i = 0; i < 1000; ++i) {
        const std::size_t v = gen() % volumes.size();
        const std::size_t cut = gen() % 41000;
        RunDamaged(v, [cut](auto& bytes) { bytes.resize(std::min(bytes.size(), cut)); }, i % 2 == 0);
    }
    ExpectNothingOutsideTheDestination();
    EXPECT_EQ(runs, int(volumes.size()) * 200 + 1000);
    EXPECT_GT(restoredFiles, 500);
}

TEST_F(DamagedVolumes, randomByteFlipsNeverEscape)
{
    std::mt19937 gen(11);
    for (int i = 0; i < 600; ++i) {
        const std::size_t v = gen() % volumes.size();
        const unsigned flips = 1 + gen() % 4;
        const std::uint32_t seed = gen();
        RunDamaged(v, [flips, seed](auto& bytes) {
            std::mt19937 g(seed);
            for (unsigned f = 0; f < flips && !bytes.empty(); ++f)
                bytes[g() % std::min<std::size_t>(bytes.size(), g() % 2 ? 300 : bytes.size())] ^= std::uint8_t(1 + g() % 255);
        }, i % 2 == 0);
    }
    ExpectNothingOutsideTheDestination();
    EXPECT_GT(restoredFiles, 300);
}

}  // namespace
}  // namespace arcovelo::test
