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

class Windows : public EngineTest {
protected:
    std::string Archive() const { return (root / "out.bck").string(); }
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

}  // namespace
}  // namespace arcovelo::test
