// The Windows rules of the engine, on a Windows file system (under Wine in
// CI): the archive attribute, hidden and system entries, names compared
// without case, long paths and date stamps from local time.
#include "dosdate.h"
#include "test_support.h"

#include <windows.h>

namespace arcovelo::test {
namespace {

DWORD AttributesOf(const fs::path& path) { return ::GetFileAttributesW(path.c_str()); }

void SetAttributes(const fs::path& path, DWORD attributes) { ASSERT_TRUE(::SetFileAttributesW(path.c_str(), attributes)); }

bool ArchiveBitSet(const fs::path& path) { return (AttributesOf(path) & FILE_ATTRIBUTE_ARCHIVE) != 0; }

// True when the file system keeps a cleared archive attribute (NTFS and FAT
// do; Wine reports every file as changed).
bool KeepsTheArchiveAttribute(const fs::path& scratch)
{
    WriteText(scratch, "probe");
    ::SetFileAttributesW(scratch.c_str(), FILE_ATTRIBUTE_NORMAL);
    const bool kept = !ArchiveBitSet(scratch);
    fs::remove(scratch);
    return kept;
}

// The names of the entries of `folder`, sorted.
std::vector<std::string> NamesIn(const fs::path& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

void PutInt32(std::vector<std::uint8_t>& out, std::int32_t value)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(std::uint8_t(std::uint32_t(value) >> (8 * i)));
}

void PutBytes(std::vector<std::uint8_t>& out, const std::string& bytes) { out.insert(out.end(), bytes.begin(), bytes.end()); }

// An archive as another program may have written it: each file a record
// under its name as given (any bytes, any case), its data one stored chunk.
std::vector<std::uint8_t> ArchiveOf(const std::vector<std::pair<std::string, std::string>>& files)
{
    const std::int32_t stamp = DosStampFromTime(1700000000);
    std::vector<std::uint8_t> out;
    PutInt32(out, 0);  // no title
    PutInt32(out, 0);
    PutInt32(out, std::int32_t(files.size()));
    for (const auto& [name, data] : files) {
        PutInt32(out, std::int32_t(name.size()));
        PutBytes(out, name);
        PutInt32(out, stamp);
        PutBytes(out, std::string("EC2", 4));
        if (!data.empty()) {
            PutInt32(out, -std::int32_t(data.size()));
            PutBytes(out, data);
        }
        PutInt32(out, 0);
    }
    PutInt32(out, 0);
    return out;
}

class Windows : public EngineTest {
protected:
    std::string Archive() const { return (root / "out.bck").string(); }
    // Restores `files`, written as an archive by ArchiveOf, into the folder
    // "dest" by their names alone.
    bool RestoreArchiveOf(const std::vector<std::pair<std::string, std::string>>& files)
    {
        WriteBytes(root / "made.bck", ArchiveOf(files));
        fs::create_directories(root / "dest");
        return engine.Restore((root / "made.bck").string(), (root / "dest").string());
    }
    std::vector<std::string> Backup(const std::vector<std::string>& list)
    {
        EXPECT_TRUE(engine.Backup(list, Archive()));
        std::vector<std::string> names;
        for (const auto& record : ParseVolume(ReadBytes(Archive())).records)
            names.push_back(record.name);
        return names;
    }
};

// The attribute goes only with a whole archive, and a file written since
// has it again; where the file system keeps no cleared attribute, every run
// takes every file (more, never less).
TEST_F(Windows, theArchiveAttributeIsClearedOnlyByAWholeArchive)
{
    WriteText(root / "d" / "a.txt", "a");
    WriteText(root / "d" / "b.txt", "b");
    const std::vector<std::string> list{(root / "d" / "*.txt").string()};
    const bool kept = KeepsTheArchiveAttribute(root / "probe");
    engine.SetSaveFileID(false);
    engine.SetBackupMode(bmIncremental);
    engine.OnProgress = [](TBackupFile*, const std::string& file, TPercentage, bool& cont) { cont = file.empty(); };
    EXPECT_FALSE(engine.Backup(list, Archive()));
    EXPECT_TRUE(ArchiveBitSet(root / "d" / "a.txt") && ArchiveBitSet(root / "d" / "b.txt")) << "a stopped run";

    engine.OnProgress = nullptr;
    EXPECT_EQ(Backup(list).size(), 2u);
    EXPECT_EQ(ArchiveBitSet(root / "d" / "a.txt"), !kept);
    EXPECT_EQ(Backup(list).size(), kept ? 0u : 2u);
    WriteText(root / "d" / "b.txt", "changed");
    EXPECT_TRUE(ArchiveBitSet(root / "d" / "b.txt"));
    EXPECT_EQ(Backup(list), (kept ? std::vector<std::string>{(root / "d" / "b.txt").string()}
                                   : std::vector<std::string>{(root / "d" / "a.txt").string(),
                                                              (root / "d" / "b.txt").string()}));
}

// Hidden and system folders are not entered; hidden and system files are
// archived, names are stored lowered and one file reached through names of
// another case is taken once.
TEST_F(Windows, hiddenFoldersAreSkippedAndNamesDifferingInCaseAreOneFile)
{
    const fs::path d = root / "dati";
    for (const char* f : {"Lettera.TXT", "nascosto.txt", "sub\\c.txt", "Hidden\\h.txt", "system\\s.txt"})
        WriteText(d / f, f);
    SetAttributes(d / "nascosto.txt", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    SetAttributes(d / "Hidden", FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN);
    SetAttributes(d / "system", FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_SYSTEM);
    engine.SetSaveFileID(false);
    std::string upper = (d / "LETTERA.txt").string();
    const auto names = Backup({upper, (d / "*.*").string() + " /s", StoredName(upper)});
    const std::string p = d.string() + "\\";
    EXPECT_EQ(names, (std::vector<std::string>{p + "lettera.txt", p + "sub\\c.txt", p + "nascosto.txt"}));
}

// Paths beyond MAX_PATH are backed up and restored, below a folder and to
// their stored place.
TEST_F(Windows, pathsLongerThanMaxPathRoundTrip)
{
    fs::path deep = root / "src";
    while (deep.string().size() < 300)
        deep /= std::string(40, 'x');
    const std::string file = (deep / "f.txt").string();
    const std::wstring longForm = L"\\\\?\\" + fs::path(file).wstring();
    const fs::path longFolder = L"\\\\?\\" + deep.wstring();
    fs::create_directories(longFolder);
    WriteText(longFolder / "f.txt", "deep");
    engine.SetSaveFileID(true);
    EXPECT_EQ(Backup({(root / "src" / "*.*").string() + " /s"}).back(), file);

    engine.SetRestoreFullPath(true);
    ASSERT_TRUE(engine.Restore(Archive(), (root / "dest").string()));
    EXPECT_EQ(ReadText(L"\\\\?\\" + (root / "dest" / fs::path(file).relative_path()).wstring()), "deep");
    WriteText(longForm, "changed");
    ASSERT_TRUE(engine.Restore(Archive(), ""));
    EXPECT_EQ(ReadText(longForm), "deep");
}

// A stamp is the local time under the rules of its own date (summer time in
// July), not under today's offset; it comes back as the same moment.
TEST_F(Windows, dateStampsFollowTheTimeZoneRulesOfTheirDate)
{
    TIME_ZONE_INFORMATION zone{};
    ::GetTimeZoneInformation(&zone);
    ASSERT_EQ(zone.Bias, -60) << "CTest runs the tests with TZ=Europe/Rome";
    const std::time_t july = 1719828000;   // 2024-07-01 10:00:00 UTC, 12:00 in Rome
    const std::time_t january = 1704103200;  // 2024-01-01 10:00:00 UTC, 11:00 in Rome
    for (const auto& [t, hour] : {std::pair{july, 12}, std::pair{january, 11}}) {
        const std::int32_t stamp = DosStampFromTime(t);
        EXPECT_EQ((stamp >> 11) & 0x1F, hour) << t;
        std::time_t back = 0;
        ASSERT_TRUE(TimeFromDosStamp(stamp, back));
        EXPECT_EQ(back, t);
    }
}

// A restored file is not left hidden or temporary as it was written: a new
// one is a plain file, a replaced one keeps exactly the attributes it had.
TEST_F(Windows, restoredFilesHaveTheAttributesOfTheFileTheyAreNotOfTheirTemporaryFile)
{
    for (const char* name : {"new.txt", "plain.txt", "hidden.txt"})
        WriteText(root / "src" / name, std::string("archived ") + name);
    engine.SetSaveFileID(false);
    Backup({(root / "src" / "*.txt").string()});
    const fs::path dest = root / "dest";
    WriteText(dest / "plain.txt", "old");
    WriteText(dest / "hidden.txt", "old");
    SetAttributes(dest / "hidden.txt", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    const DWORD plain = AttributesOf(dest / "plain.txt");
    const DWORD hidden = AttributesOf(dest / "hidden.txt");

    ASSERT_TRUE(engine.Restore(Archive(), dest.string()));
    EXPECT_EQ(ReadText(dest / "new.txt"), "archived new.txt");
    EXPECT_EQ(AttributesOf(dest / "new.txt"), DWORD(FILE_ATTRIBUTE_ARCHIVE));
    EXPECT_EQ(ReadText(dest / "plain.txt"), "archived plain.txt");
    EXPECT_EQ(AttributesOf(dest / "plain.txt"), plain);
    EXPECT_EQ(AttributesOf(dest / "hidden.txt"), hidden);
}

// Names Windows cannot keep as they are stored are refused (code 1), never
// replaced by another name: bytes that are not UTF-8 (which would become
// U+FFFD, so that two names made one file) and device names, the
// superscript digits included.
TEST_F(Windows, namesWindowsCannotKeepAreRefusedNotSubstituted)
{
    for (const std::string name : {"caff\xe8.txt", "com\xc2\xb9.txt", "LPT\xc2\xb3", "com\xc2\xb2"}) {
        fs::remove_all(root / "dest");
        EXPECT_FALSE(RestoreArchiveOf({{"c:\\x\\" + name, "first"}, {"c:\\x\\caff\xe9.txt", "second"}})) << name;
        EXPECT_EQ(engine.ErrorCode(), 1) << name;
        EXPECT_EQ(NamesIn(root / "dest"), std::vector<std::string>{}) << name;
    }
}

// A file written earlier in the same restore counts as existing for the
// modes, also when a later record names it in another case.
TEST_F(Windows, restoreModesSeeFilesWrittenEarlierInTheSameRestoreUnderAnotherCase)
{
    for (const TRestoreMode mode : {rmNoOverwrite, rmNewer}) {
        fs::remove_all(root / "dest");
        engine.SetRestoreMode(mode);
        ASSERT_TRUE(RestoreArchiveOf({{"c:\\x\\A.txt", "first"}, {"c:\\x\\a.txt", "second"}})) << mode;
        EXPECT_EQ(engine.ProcessedCount(), 1) << mode;
        ASSERT_EQ(NamesIn(root / "dest"), std::vector<std::string>{"A.txt"}) << mode;
        EXPECT_EQ(ReadText(root / "dest" / "A.txt"), "first") << mode;
    }
}

// A restore removes the temporary files a killed restore left, and nothing
// else: not a name of another shape, not a folder, not a file with another
// name (hard link), not the file of a process still running.
TEST_F(Windows, restoreRemovesOnlyItsOwnLeftovers)
{
    const fs::path dest = root / "dest";
    const std::string gone = "~arcovelo-4000000000-";  // no process has this number
    const std::string running = "~arcovelo-" + std::to_string(::GetCurrentProcessId()) + "-";
    WriteText(dest / (gone + "abc123.tmp"), "leftover");
    const std::vector<std::string> kept{gone + "XYZ789.tmp", gone + "abcdefg.tmp", gone + "notes.tmp.txt",
                                        gone + "linked.tmp", running + "abc123.tmp", "keep.txt"};
    for (const auto& name : kept)
        if (name != gone + "linked.tmp")
            WriteText(dest / name, "theirs");
    ASSERT_TRUE(::CreateHardLinkW((dest / (gone + "linked.tmp")).c_str(), (dest / "keep.txt").c_str(), nullptr));
    fs::create_directories(dest / (gone + "folder.tmp"));

    ASSERT_TRUE(RestoreArchiveOf({{"c:\\x\\new.txt", "new"}}));
    std::vector<std::string> expected = kept;
    expected.push_back(gone + "folder.tmp");
    expected.push_back("new.txt");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(NamesIn(dest), expected);
}

}  // namespace
}  // namespace arcovelo::test
