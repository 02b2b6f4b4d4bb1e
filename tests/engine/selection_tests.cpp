// Restoring part of an archive: which stored names a selection takes, a
// selected restore, the plan of a restore and the comparison with the disk.
#include "format.h"
#include "restore_selection.h"
#include "test_support.h"

#include <algorithm>
#include <map>
#include <set>

namespace arcovelo::test {
namespace {

bool Takes(const TRestoreSelection& s, const std::string& name) { return IsSelected(s, name); }

TEST(SelectionRules, namesMasksAndFoldersTakeWhatTheySayAndExclusionsWin)
{
    const std::string doc = "/home/ann/docs/report.txt";
    EXPECT_TRUE(Takes({{doc}, {}}, doc));
    EXPECT_FALSE(Takes({{"/home/ann/docs/report"}, {}}, doc));
    // A folder takes what is stored below it, with or without its separator,
    // but a name that only begins like it does not.
    EXPECT_TRUE(Takes({{"/home/ann/docs"}, {}}, doc));
    EXPECT_TRUE(Takes({{"/home/ann/docs/"}, {}}, doc));
    EXPECT_TRUE(Takes({{"/"}, {}}, doc));
    EXPECT_FALSE(Takes({{"/home/ann/doc"}, {}}, doc));
    EXPECT_FALSE(Takes({{"/home/ann/docs/report.txt/"}, {}}, "/home/ann/docs/report.txt2"));
    // Masks match the whole name, * across folders; ? is one character, also
    // one of several bytes; names that are not UTF-8 are matched byte by byte.
    EXPECT_TRUE(Takes({{"*.txt"}, {}}, doc));
    EXPECT_FALSE(Takes({{"*.tx"}, {}}, doc));
    EXPECT_TRUE(Takes({{"/home/*/report.???"}, {}}, doc));
    EXPECT_TRUE(Takes({{"/home/*/docs"}, {}}, doc));
    EXPECT_TRUE(Takes({{"/x/caf?.txt"}, {}}, "/x/caf\xc3\xa9.txt"));
    EXPECT_FALSE(Takes({{"/x/caf??.txt"}, {}}, "/x/caf\xc3\xa9.txt"));
    EXPECT_TRUE(Takes({{"/x/caf??.txt"}, {}}, "/x/caf\xe9\xff.txt"));
    EXPECT_TRUE(Takes({{"*a*a*a*a*b"}, {}}, "/" + std::string(200, 'a') + "b"));
    EXPECT_FALSE(Takes({{"*a*a*a*a*b"}, {}}, "/" + std::string(200, 'a')));
    // Without a separator: any one file or folder name of the path.
    EXPECT_TRUE(Takes({{"report.txt"}, {}}, doc));
    EXPECT_TRUE(Takes({{"docs"}, {}}, doc));
    EXPECT_TRUE(Takes({{"d?cs"}, {}}, doc));
    EXPECT_FALSE(Takes({{"doc"}, {}}, doc));
    EXPECT_FALSE(Takes({{"ann/docs"}, {}}, doc)) << "with a separator the whole name counts";
    // No include takes everything; an exclusion (name, mask, folder) wins.
    EXPECT_TRUE(Takes({}, doc));
    EXPECT_FALSE(Takes({{}, {"*.txt"}}, doc));
    EXPECT_FALSE(Takes({{"/home"}, {"/home/ann/docs"}}, doc));
    EXPECT_TRUE(Takes({{"/home"}, {"/home/ann/docs/old"}}, doc));
    // The file-ID list is never a selected file.
    EXPECT_FALSE(Takes({}, format::kFileListName));
    EXPECT_FALSE(Takes({{"*"}, {}}, format::kFileListName));
    // Picked rows are names as they are: '*' in a name is no mask, a file's
    // name no folder.
    TRestoreSelection picked;
    picked.names = {"/x/*.txt", "/x/a"};
    EXPECT_TRUE(Takes(picked, "/x/*.txt"));
    EXPECT_FALSE(Takes(picked, "/x/b.txt"));
    EXPECT_FALSE(Takes(picked, "/x/a/b"));
}

TEST(SelectionRules, backupExclusionsMatchANameWithoutSeparatorAndAPathWithOne)
{
    const std::string path = "/home/ann/docs/cache";
    EXPECT_TRUE(LeavesOut({"cache"}, "cache", path));
    EXPECT_TRUE(LeavesOut({"c?che", "x"}, "cache", path));
    EXPECT_FALSE(LeavesOut({"docs"}, "cache", path)) << "a name is the found item's own, not its folders'";
    EXPECT_TRUE(LeavesOut({"/home/ann/docs"}, "cache", path));
    EXPECT_TRUE(LeavesOut({"*/docs/cache"}, "cache", path));
    EXPECT_FALSE(LeavesOut({"/home/ann/doc"}, "cache", path));
    EXPECT_FALSE(LeavesOut({}, "cache", path));
}

TEST(SelectionRules, namesWrittenOnWindowsAreSplitAtBackslashes)
{
    EXPECT_TRUE(PatternTakes("c:\\dati", "c:\\dati\\a.txt"));
    EXPECT_TRUE(PatternTakes("c:\\dati\\", "c:\\dati\\a.txt"));
    EXPECT_FALSE(PatternTakes("c:\\dat", "c:\\dati\\a.txt"));
    EXPECT_TRUE(PatternTakes("dati", "c:\\dati\\a.txt"));
}

#ifdef _WIN32
TEST(SelectionRules, onWindowsNamesCompareWithoutCaseAndSlashesAreBackslashes)
{
    EXPECT_TRUE(PatternTakes("C:/Dati/A.TXT", "c:\\dati\\a.txt"));
    EXPECT_TRUE(PatternTakes("C:\\DATI", "c:\\dati\\a.txt"));
    EXPECT_TRUE(PatternTakes("*.TXT", "c:\\dati\\a.txt"));
    EXPECT_FALSE(PatternTakes("c:/dati/b.txt", "c:\\dati\\a.txt"));
}
#else
TEST(SelectionRules, onPosixNamesCompareAsBytes)
{
    EXPECT_FALSE(PatternTakes("/Home/ann", "/home/ann/a.txt"));
    EXPECT_FALSE(PatternTakes("*.TXT", "/home/ann/a.txt"));
    EXPECT_FALSE(PatternTakes("\\home\\ann", "/home/ann/a.txt"));
}
#endif

using Tree = std::map<std::string, std::vector<std::uint8_t>>;

class Selected : public EngineTest {
protected:
    Tree tree = {{"a.txt", TextBytes(100)},
                 {"docs/b.txt", TextBytes(20000)},
                 {"docs/c.bin", RandomBytes(40000, 5)},
                 {"docs/old/d.txt", TextBytes(300)},
                 {"e.bin", RandomBytes(70000, 6)}};

    void SetUp() override
    {
        EngineTest::SetUp();
        std::int64_t t = 1700000000;
        for (const auto& [path, bytes] : tree) {
            WriteBytes(src() / path, bytes);
            SetMtime(src() / path, t += 3600);
        }
        engine.SetSaveFileID(true);
        engine.OnNeedDisk = [](TBackupFile*, std::uint16_t, bool& cont) { cont = true; };
    }
    fs::path src() const { return root / "src"; }
    fs::path out() const { return root / "out"; }
    std::string Archive() const { return (root / "a.bck").string(); }
    std::string Stored(const std::string& path) const { return StoredName((src() / path).make_preferred().string()); }
    void BackUp() { ASSERT_TRUE(engine.Backup({(src() / "*.*").string() + " /s"}, Archive())); }
    std::set<std::string> FilesBelow(const fs::path& base) const
    {
        std::set<std::string> found;
        for (const auto& item : fs::recursive_directory_iterator(base))
            if (item.is_regular_file())
                found.insert(fs::relative(item.path(), base).generic_string());
        return found;
    }
};

TEST_F(Selected, restoreTakesOnlyTheSelectedFilesAndCountsThemAlone)
{
    BackUp();
    std::vector<std::string> offered;
    engine.OnRestoreFile = [&](TBackupFile*, std::string& name, std::int32_t, bool&) { offered.push_back(name); };
    int lastPercent = -1;
    int highestBeforeEnd = 0;
    engine.OnProgress = [&](TBackupFile*, const std::string& file, TPercentage p, bool&) {
        if (!file.empty())
            highestBeforeEnd = std::max(highestBeforeEnd, int(p));
        lastPercent = p;
    };
    engine.SetSelection({{Stored("docs"), "*.bin", "nothere.txt"}, {Stored("docs/old")}});
    engine.SetRestoreFullPath(true);
    ASSERT_TRUE(engine.Restore(Archive(), out().string()));
    EXPECT_EQ(host->warnings, (std::vector<std::string>{"Nothing in the archive matches \"nothere.txt\""}))
        << "a name that takes nothing is said";

    const fs::path base = out() / src().relative_path();
    EXPECT_EQ(FilesBelow(out()).size(), 3u);
    for (const char* path : {"docs/b.txt", "docs/c.bin", "e.bin"})
        EXPECT_EQ(ReadBytes(base / path), tree.at(path)) << path;
    EXPECT_EQ(offered.size(), 3u);
    EXPECT_EQ(engine.ProcessedCount(), 3);
    // From the file-ID list: the selected files' count and size, so progress
    // runs over them alone.
    EXPECT_EQ(engine.FileCount(), 3);
    EXPECT_EQ(engine.TotalSize(), 20000 + 40000 + 70000);
    EXPECT_EQ(highestBeforeEnd, 100);
    EXPECT_EQ(lastPercent, 100);
}

TEST_F(Selected, withoutAFileListOrAcrossVolumesTheSelectionStillHolds)
{
    engine.SetSaveFileID(false);
    engine.SetCompressionLevel(clNone);
    engine.SetMaxSize(format::kMinVolumeSize + 20000);  // e.bin and c.bin go on in later volumes
    BackUp();
    engine.SetSelection({{Stored("e.bin"), Stored("a.txt")}, {}});
    ASSERT_TRUE(engine.Restore(Archive(), out().string()));
    EXPECT_EQ(FilesBelow(out()), (std::set<std::string>{"a.txt", "e.bin"}));
    EXPECT_EQ(ReadBytes(out() / "e.bin"), tree.at("e.bin"));
    EXPECT_EQ(engine.FileCount(), 2);
    EXPECT_EQ(engine.ProcessedCount(), 2);

    std::vector<TCompareEntry> compared;
    engine.SetSelection({});
    ASSERT_TRUE(engine.Compare(Archive(), out().string(), compared));
    ASSERT_EQ(compared.size(), tree.size());
    for (const auto& c : compared) {
        const bool restored = c.name == Stored("e.bin") || c.name == Stored("a.txt");
        EXPECT_EQ(c.result, restored ? crSame : crMissing) << c.name;
    }
}

TEST_F(Selected, aFileListOverSeveralVolumesStillGivesTheSelectedCountAndSize)
{
    std::int64_t selectedSize = 0;
    for (int i = 0; i < 1000; ++i) {
        const std::string name = "many/" + std::string(60, 'n') + std::to_string(i) + (i % 100 == 0 ? ".sel" : ".txt");
        WriteBytes(src() / name, TextBytes(std::size_t(i)));
        selectedSize += i % 100 == 0 ? i : 0;
    }
    engine.SetCompressionLevel(clNone);
    engine.SetMaxSize(format::kMinVolumeSize + 20000);
    BackUp();
    ASSERT_TRUE(fs::exists(root / "a.004")) << "the list spans volumes";
    engine.SetSelection({{"*.sel"}, {}});
    ASSERT_TRUE(engine.Restore(Archive(), out().string()));
    EXPECT_EQ(engine.FileCount(), 10);
    EXPECT_EQ(engine.TotalSize(), selectedSize);
    EXPECT_EQ(FilesBelow(out()).size(), 10u);
}

// For every mode: the plan says what the restore then does, file by file, and
// afterwards every file the plan wrote compares the same.
TEST_F(Selected, thePlanIsWhatTheRestoreThenDoesInEveryMode)
{
    BackUp();
    const std::vector<std::uint8_t> mine = {'m', 'i', 'n', 'e'};
    for (const TRestoreMode mode : {rmAll, rmNoOverwrite, rmNewer, rmExisting, rmExistingNewer}) {
        SCOPED_TRACE(int(mode));
        fs::remove_all(out());
        // a.txt older there, b.txt newer, d.txt the same age, c.bin and e.bin missing.
        WriteBytes(out() / "a.txt", mine);
        SetMtime(out() / "a.txt", Mtime(src() / "a.txt") - 7200);
        WriteBytes(out() / "b.txt", mine);
        SetMtime(out() / "b.txt", Mtime(src() / "docs/b.txt") + 7200);
        WriteBytes(out() / "d.txt", mine);
        SetMtime(out() / "d.txt", Mtime(src() / "docs/old/d.txt"));
        engine.SetRestoreMode(mode);

        std::vector<TRestorePlanEntry> plan;
        ASSERT_TRUE(engine.PlanRestore(Archive(), out().string(), plan));
        EXPECT_EQ(FilesBelow(out()).size(), 3u) << "the plan wrote something";
        ASSERT_EQ(plan.size(), tree.size());
        ASSERT_TRUE(engine.Restore(Archive(), out().string()));
        const int restored = engine.ProcessedCount();

        int written = 0;
        std::vector<TCompareEntry> compared;
        ASSERT_TRUE(engine.Compare(Archive(), out().string(), compared));
        ASSERT_EQ(compared.size(), plan.size());
        for (std::size_t i = 0; i < plan.size(); ++i) {
            const auto& p = plan[i];
            const std::string file = fs::path(p.destination).filename().string();
            const bool writes = p.action == paWrite || p.action == paReplace;
            written += writes;
            EXPECT_EQ(p.destination, (out() / file).string());
            EXPECT_EQ(compared[i].name, p.name);
            if (writes)
                EXPECT_EQ(compared[i].result, crSame) << file;
            else if (p.action == paSkipMissing)
                EXPECT_EQ(compared[i].result, crMissing) << file;
            else
                EXPECT_EQ(ReadBytes(out() / file), mine) << file;
        }
        EXPECT_EQ(restored, written);
    }
}

TEST_F(Selected, thePlanNamesEachActionByItsReason)
{
    BackUp();
    WriteBytes(out() / "a.txt", {'x'});
    SetMtime(out() / "a.txt", Mtime(src() / "a.txt"));
    const auto actions = [&](TRestoreMode mode) {
        engine.SetRestoreMode(mode);
        std::vector<TRestorePlanEntry> plan;
        EXPECT_TRUE(engine.PlanRestore(Archive(), out().string(), plan));
        std::map<std::string, TPlanAction> byFile;
        for (const auto& p : plan)
            byFile[fs::path(p.destination).filename().string()] = p.action;
        return std::make_pair(byFile["a.txt"], byFile["e.bin"]);
    };
    EXPECT_EQ(actions(rmAll), std::make_pair(paReplace, paWrite));
    EXPECT_EQ(actions(rmNoOverwrite), std::make_pair(paSkipExists, paWrite));
    EXPECT_EQ(actions(rmNewer), std::make_pair(paSkipNotNewer, paWrite));
    EXPECT_EQ(actions(rmExisting), std::make_pair(paReplace, paSkipMissing));

    // Two stored files with one name land on one destination: the first is written.
    WriteBytes(src() / "docs/a.txt", TextBytes(5));
    BackUp();
    engine.SetRestoreMode(rmAll);
    engine.SetSelection({{"a.txt"}, {}});
    std::vector<TRestorePlanEntry> plan;
    ASSERT_TRUE(engine.PlanRestore(Archive(), (root / "twice").string(), plan));
    ASSERT_EQ(plan.size(), 2u);
    EXPECT_EQ(plan[0].destination, plan[1].destination);
    EXPECT_EQ(std::make_pair(plan[0].action, plan[1].action), std::make_pair(paWrite, paSkipExists));
}

TEST_F(Selected, compareFindsAOneByteChangeAndAFileThatGrew)
{
    BackUp();
    engine.SetRestoreFullPath(true);
    ASSERT_TRUE(engine.Restore(Archive(), out().string()));
    const fs::path base = out() / src().relative_path();
    auto changed = tree.at("docs/c.bin");
    changed[39999] ^= 1;
    WriteBytes(base / "docs/c.bin", changed);
    auto longer = tree.at("a.txt");
    longer.push_back('!');
    WriteBytes(base / "a.txt", longer);
    fs::remove(base / "docs/old/d.txt");

    std::vector<TCompareEntry> compared;
    ASSERT_TRUE(engine.Compare(Archive(), out().string(), compared));
    std::map<std::string, TCompareResult> result;
    for (const auto& c : compared)
        result[fs::relative(c.destination, base).generic_string()] = c.result;
    EXPECT_EQ(result, (std::map<std::string, TCompareResult>{{"a.txt", crDiffers},
                                                             {"docs/b.txt", crSame},
                                                             {"docs/c.bin", crDiffers},
                                                             {"docs/old/d.txt", crMissing},
                                                             {"e.bin", crSame}}));
}

#ifndef _WIN32
TEST_F(Selected, thePlanRefusesWhatTheRestoreRefusesAndCreatesNothing)
{
    BackUp();
    fs::create_directories(root / "elsewhere");
    fs::create_directories(out());
    engine.SetRestoreFullPath(true);
    engine.SetSelection({{Stored("docs/b.txt")}, {}});
    const fs::path base = out() / src().relative_path();
    fs::create_directories(base);
    fs::create_directory_symlink(root / "elsewhere", base / "docs");

    std::vector<TRestorePlanEntry> plan;
    ASSERT_TRUE(engine.PlanRestore(Archive(), out().string(), plan));
    ASSERT_EQ(plan.size(), 1u);
    EXPECT_EQ(plan[0].action, paRefuse);
    EXPECT_NE(plan[0].reason.find("link"), std::string::npos) << plan[0].reason;

    engine.OnError = [](TBackupFile*, int, const std::string&) {};
    EXPECT_FALSE(engine.Restore(Archive(), out().string()));
    EXPECT_EQ(engine.ErrorCode(), errReadFile);
    EXPECT_TRUE(fs::is_empty(root / "elsewhere"));

    // A file the user may not write: planned as refused, refused by the restore.
    fs::remove(base / "docs");
    WriteText(base / "docs" / "b.txt", "theirs");
    fs::permissions(base / "docs" / "b.txt", fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    for (fs::path p = base / "docs"; p != root.parent_path(); p = p.parent_path())
        fs::permissions(p, fs::perms::all);
    const int status = RunInChild(
        [&] {
            TBackupFile user;
            user.SetFileSystem(native);
            user.SetRestoreFullPath(true);
            user.SetSelection({{Stored("docs/b.txt")}, {}});
            user.OnError = [](TBackupFile*, int, const std::string&) {};
            std::vector<TRestorePlanEntry> userPlan;
            if (!user.PlanRestore(Archive(), out().string(), userPlan) || userPlan.size() != 1 ||
                userPlan[0].action != paRefuse)
                return 20;
            return user.Restore(Archive(), out().string()) ? 21 : user.ErrorCode();
        },
        true);
    EXPECT_EQ(status, errReadFile);
    EXPECT_EQ(ReadText(base / "docs" / "b.txt"), "theirs");
}
#endif

}  // namespace
}  // namespace arcovelo::test
