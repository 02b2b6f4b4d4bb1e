// arcovelo-cli as a user runs it: commands, output and exit statuses.
#include "terminal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <csignal>
#include <random>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

struct Result {
    int status = -1;
    std::string out;  // stdout and stderr together
};

class Cli : public ::testing::Test {
protected:
    void SetUp() override
    {
        root = fs::temp_directory_path() / ("arcovelo-cli-" + std::string(::testing::UnitTest::GetInstance()
                                                                                 ->current_test_info()
                                                                                 ->name()) +
                                            "-" + std::to_string(getpid()));
        fs::remove_all(root);
        fs::create_directories(root / "src" / "sub");
        Write(root / "src" / "a.txt", std::string(50000, 'a'));
        std::mt19937 gen(3);
        std::string random(200000, '\0');
        for (auto& c : random)
            c = static_cast<char>(gen());
        Write(root / "src" / "sub" / "r.bin", random);
    }
    void TearDown() override { fs::remove_all(root); }

    static void Write(const fs::path& p, const std::string& text)
    {
        std::ofstream(p, std::ios::binary) << text;
    }
    static std::string Read(const fs::path& p)
    {
        std::ifstream in(p, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    // Runs arcovelo-cli with `args` (already quoted), no terminal attached;
    // `out` gets what `redirect` sends into the pipe (stdout and stderr).
    Result Run(const std::string& args, const std::string& redirect = "2>&1")
    {
        const std::string command = "ARCOVELO_STATE_DIR='" + (root / "state").string() + "' " ARCOVELO_CLI " " +
                                    args + " </dev/null " + redirect;
        Result r;
        FILE* pipe = popen(command.c_str(), "r");
        std::array<char, 4096> buffer{};
        while (std::size_t n = fread(buffer.data(), 1, buffer.size(), pipe))
            r.out.append(buffer.data(), n);
        const int raw = pclose(pipe);
        r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        return r;
    }
    std::string Q(const fs::path& p) const { return "'" + p.string() + "'"; }

    // An archive whose only record is a file-ID list holding `list`, with
    // `total` in the header, as any program could write it.
    static void WriteListOnlyArchive(const fs::path& p, const std::string& list, std::int32_t total)
    {
        std::string bytes;
        const auto int32 = [&](std::int32_t v) {
            for (int i = 0; i < 4; ++i)
                bytes += static_cast<char>((static_cast<std::uint32_t>(v) >> (8 * i)) & 0xFF);
        };
        int32(0);  // no title
        int32(total);
        int32(1);
        int32(9);
        bytes += "FILE:LIST";
        int32(0);  // the list's own date stamp, read by nobody
        bytes += std::string("EC2\0", 4);
        int32(-static_cast<std::int32_t>(list.size()));  // stored raw
        bytes += list;
        int32(0);  // group end
        int32(0);  // end marker
        Write(p, bytes);
    }

    // Starts arcovelo-cli with `args`, sends `signal` once it has written
    // `bytes` bytes (or has ended), and gives its exit status.
    int InterruptWhenWriting(const std::string& args, int signal, long long bytes)
    {
        const pid_t child = fork();
        if (child == 0) {
            setenv("ARCOVELO_STATE_DIR", (root / "state").c_str(), 1);
            setenv("TMPDIR", (root / "tmp").c_str(), 1);
            const std::string command = "exec " ARCOVELO_CLI " " + args + " </dev/null >/dev/null 2>&1";
            execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        int raw = 0;
        for (long long written = 0; waitpid(child, &raw, WNOHANG) == 0;) {
            std::ifstream io("/proc/" + std::to_string(child) + "/io");
            for (std::string key; io >> key;)
                if (key == "wchar:")
                    io >> written;
            if (written >= bytes) {
                kill(child, signal);
                waitpid(child, &raw, 0);
                break;
            }
        }
        return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    }

    fs::path root;
};

TEST_F(Cli, backupListTestAndRestoreRoundTrip)
{
    const auto backup = Run("backup " + Q(root / "a.bck") + " " + Q(root / "src" / "*") + "' /s' --title Prova");
    ASSERT_EQ(backup.status, 0) << backup.out;
    EXPECT_NE(backup.out.find("2 files, 250"), std::string::npos) << backup.out;
    EXPECT_NE(backup.out.find("compression"), std::string::npos);

    const auto list = Run("list " + Q(root / "a.bck"));
    ASSERT_EQ(list.status, 0) << list.out;
    EXPECT_NE(list.out.find("Title: Prova\nFiles: 2\n"), std::string::npos) << list.out;
    EXPECT_NE(list.out.find((root / "src" / "a.txt").string() + "  20"), std::string::npos) << list.out;
    EXPECT_NE(list.out.find("  50000\n"), std::string::npos);

    const auto test = Run("test " + Q(root / "a.bck"));
    EXPECT_EQ(test.status, 0) << test.out;

    const auto restore = Run("restore " + Q(root / "a.bck") + " --dest " + Q(root / "out") + " --mode newer");
    ASSERT_EQ(restore.status, 0) << restore.out;
    EXPECT_NE(restore.out.find("2 of 2 files restored"), std::string::npos) << restore.out;
    EXPECT_EQ(Read(root / "out" / "r.bin"), Read(root / "src" / "sub" / "r.bin"));
}

TEST_F(Cli, listSaysWhenAnArchiveHasNoFileList)
{
    ASSERT_EQ(Run("backup " + Q(root / "a.bck") + " " + Q(root / "src" / "a.txt") + " --no-file-list --quiet").status, 0);
    const auto list = Run("list " + Q(root / "a.bck"));
    EXPECT_NE(list.out.find("Nessuna informazione estesa dei files per questo archivio."), std::string::npos);
}

TEST_F(Cli, exitStatusesTellUsageEngineErrorsCancelAndFailure)
{
    EXPECT_EQ(Run("").status, 2);
    EXPECT_EQ(Run("--help").status, 0);
    EXPECT_EQ(Run("backup " + Q(root / "a.bck") + " x --level fast").status, 2);
    const auto unknownCommand = Run("frobnicate");
    EXPECT_EQ(unknownCommand.status, 2);
    EXPECT_NE(unknownCommand.out.find("unknown command \"frobnicate\""), std::string::npos) << unknownCommand.out;

    const auto unwritable = Run("backup " + Q(root / "missing" / "a.bck") + " " + Q(root / "src" / "a.txt"));
    EXPECT_EQ(unwritable.status, 14) << unwritable.out;
    EXPECT_NE(unwritable.out.find("Cannot write to archive"), std::string::npos);

    // Without an end marker: restore ends with the read error, test says why.
    ASSERT_EQ(Run("backup " + Q(root / "a.bck") + " " + Q(root / "src" / "a.txt") + " --quiet").status, 0);
    fs::resize_file(root / "a.bck", fs::file_size(root / "a.bck") - 4);
    const auto restore = Run("restore " + Q(root / "a.bck") + " --dest " + Q(root / "out"));
    EXPECT_EQ(restore.status, 1);
    EXPECT_EQ(restore.out.rfind("arcovelo-cli: ", 0), 0u) << "no empty line first: " << restore.out;
    const auto test = Run("test " + Q(root / "a.bck"));
    EXPECT_EQ(test.status, 1);
    EXPECT_NE(test.out.find("end marker"), std::string::npos) << test.out;
    EXPECT_EQ(Run("test " + Q(root / "a.bck"), "2>/dev/null").out, "") << "damage goes to stderr";

    EXPECT_EQ(Run("list " + Q(root / "none.bck")).status, 1);

    ASSERT_EQ(Run("backup " + Q(root / "b.bck") + " " + Q(root / "src" / "a.txt") + " --quiet").status, 0);
    const auto intoAFile = Run("restore " + Q(root / "b.bck") + " --dest " + Q(root / "src" / "a.txt"));
    EXPECT_EQ(intoAFile.status, 11) << "a destination folder that cannot be made: code 1";
    EXPECT_NE(intoAFile.out.find("Cannot read file"), std::string::npos) << intoAFile.out;
}

TEST_F(Cli, volumesAreWrittenAndReadWithYesAndAMissingOneCancels)
{
    const auto backup = Run("backup " + Q(root / "v.bck") + " " + Q(root / "src" / "*") + "' /s' --volume-size 100000 --yes");
    ASSERT_EQ(backup.status, 0) << backup.out;
    ASSERT_TRUE(fs::exists(root / "v.002"));
    EXPECT_EQ(Run("test " + Q(root / "v.bck") + " --yes").status, 0);
    EXPECT_EQ(Run("restore " + Q(root / "v.bck") + " --dest " + Q(root / "out") + " --yes").status, 0);
    EXPECT_EQ(Read(root / "out" / "r.bin"), Read(root / "src" / "sub" / "r.bin"));

    fs::remove(root / "v.002");
    const auto missing = Run("restore " + Q(root / "v.bck") + " --dest " + Q(root / "out2") + " --yes");
    EXPECT_EQ(missing.status, 3) << missing.out;
    EXPECT_NE(missing.out.find("volume 2 of"), std::string::npos) << missing.out;

    const auto noAnswer = Run("backup " + Q(root / "w.bck") + " " + Q(root / "src" / "*") + "' /s' --volume-size 100000");
    EXPECT_EQ(noAnswer.status, 3) << "no terminal to ask: the disk prompt cancels";
}

// What a backup could not take is named on stderr and gives status 4; the
// archive still holds the rest. A volume too small for a chunk is bad usage.
TEST_F(Cli, whatCannotBeTakenGivesStatus4AndTinyVolumesAreRefused)
{
    const auto partial = Run("backup " + Q(root / "a.bck") + " " + Q(root / "src" / "a.txt") + " " +
                             Q(root / "src" / "missing.txt") + " --quiet");
    EXPECT_EQ(partial.status, 4) << partial.out;
    EXPECT_NE(partial.out.find("warning: Cannot find file \"" + (root / "src" / "missing.txt").string()),
              std::string::npos)
        << partial.out;
    EXPECT_EQ(Run("restore " + Q(root / "a.bck") + " --dest " + Q(root / "out")).status, 0);
    EXPECT_EQ(Read(root / "out" / "a.txt"), Read(root / "src" / "a.txt"));

    const auto tiny = Run("backup " + Q(root / "t.bck") + " " + Q(root / "src" / "a.txt") + " --volume-size 100");
    EXPECT_EQ(tiny.status, 2) << tiny.out;
    EXPECT_FALSE(fs::exists(root / "t.bck"));
}

// Ctrl-C (SIGINT) or SIGTERM during a backup or a restore stops it: status 3,
// no temporary file, the file being replaced untouched.
TEST_F(Cli, interruptingABackupOrARestoreStopsItCleanly)
{
    fs::create_directories(root / "tmp");
    std::mt19937 gen(5);
    std::string big(48 << 20, '\0');
    for (auto& c : big)
        c = static_cast<char>(gen() % 64);
    Write(root / "src" / "big.bin", big);
    const std::string backup = "backup " + Q(root / "a.bck") + " " + Q(root / "src" / "*") + "' /s' --level max";
    EXPECT_EQ(InterruptWhenWriting(backup, SIGINT, 1 << 20), 3);
    EXPECT_TRUE(fs::is_empty(root / "tmp")) << "the file-ID list is gone";

    ASSERT_EQ(Run(backup + " --quiet").status, 0);
    fs::create_directories(root / "out");
    Write(root / "out" / "big.bin", "previous");
    const std::string restore = "restore " + Q(root / "a.bck") + " --dest " + Q(root / "out");
    EXPECT_EQ(InterruptWhenWriting(restore, SIGTERM, 8 << 20), 3);
    EXPECT_EQ(Read(root / "out" / "big.bin"), "previous");
    for (const auto& entry : fs::directory_iterator(root / "out"))
        EXPECT_NE(entry.path().filename().string()[0], '.') << entry.path();
}

// The usual option rules: --version, --opt=value, "--" before an entry that
// looks like an option, unknown options and bad values named as usage errors.
TEST_F(Cli, optionsFollowTheUsualRules)
{
    const auto version = Run("--version");
    EXPECT_EQ(version.status, 0);
    EXPECT_NE(version.out.find("arcovelo-cli " ARCOVELO_VERSION), std::string::npos) << version.out;
    EXPECT_EQ(Run("backup --help").status, 0);

    const auto unknown = Run("backup " + Q(root / "a.bck") + " " + Q(root / "src" / "a.txt") + " --frobnicate");
    EXPECT_EQ(unknown.status, 2);
    EXPECT_NE(unknown.out.find("--frobnicate"), std::string::npos) << unknown.out;
    const auto badValue = Run("backup " + Q(root / "a.bck") + " x --level=fast");
    EXPECT_EQ(badValue.status, 2);
    EXPECT_NE(badValue.out.find("--level"), std::string::npos) << badValue.out;

    Write(root / "--yes", "a file with an option's name");
    const auto dashes = Run("backup " + Q(root / "b.bck") + " --level=none --quiet -- --yes");
    EXPECT_EQ(dashes.status, 4) << "--yes after -- is an entry, missing from the current folder";
    EXPECT_NE(dashes.out.find("Cannot find file \"--yes\""), std::string::npos) << dashes.out;
}

// list writes one line per file whatever its name holds.
TEST_F(Cli, listShowsControlCharactersEscapedOnOneLine)
{
    Write(root / "src" / "two\nlines\t.txt", "x");
    ASSERT_EQ(Run("backup " + Q(root / "a.bck") + " " + Q(root / "src" / "two*") + " --quiet").status, 0);
    const auto list = Run("list " + Q(root / "a.bck"));
    EXPECT_NE(list.out.find((root / "src").string() + "/two\\nlines\\t.txt  "), std::string::npos) << list.out;
    EXPECT_EQ(list.out.find("\nlines"), std::string::npos) << list.out;
}

// Counts read right, quiet runs print nothing but their contents, and data
// that does not compress shows no negative compression.
TEST_F(Cli, summariesCountInTheSingularAndQuietRunsAreQuiet)
{
    Write(root / "src" / "tiny.bin", "\x93\x01\xFE\x7A\x11");
    const std::string archive = Q(root / "t.bck");
    const auto backup = Run("backup " + archive + " " + Q(root / "src" / "tiny.bin"));
    EXPECT_EQ(backup.out.rfind("1 file, ", 0), 0u) << backup.out;
    EXPECT_NE(backup.out.find(" bytes, compression 0 %\n"), std::string::npos) << backup.out;
    EXPECT_EQ(Run("restore " + archive + " --dest " + Q(root / "out")).out, "1 of 1 file restored\n");
    EXPECT_NE(Run("test " + archive).out.find("OK: 2 records,"), std::string::npos);

    const auto quietTest = Run("test " + archive + " --quiet");
    EXPECT_EQ(quietTest.status, 0);
    EXPECT_EQ(quietTest.out, "");
    const auto quietList = Run("list --quiet " + archive);
    EXPECT_EQ(quietList.status, 0);
    EXPECT_EQ(quietList.out.rfind((root / "src" / "tiny.bin").string() + "  20", 0), 0u) << quietList.out;
    EXPECT_EQ(std::count(quietList.out.begin(), quietList.out.end(), '\n'), 1) << quietList.out;
}

// Output that does not reach its file (a full disk) fails the run: status 1
// and a message on stderr.
TEST_F(Cli, outputThatCannotBeWrittenFailsTheRun)
{
    ASSERT_EQ(Run("backup " + Q(root / "a.bck") + " " + Q(root / "src" / "a.txt") + " --quiet").status, 0);
    const std::string runs[] = {"list " + Q(root / "a.bck"), "test " + Q(root / "a.bck"), "--help",
                                "backup " + Q(root / "b.bck") + " " + Q(root / "src" / "a.txt")};
    for (const auto& args : runs) {
        const auto full = Run(args, "2>&1 >/dev/full");
        EXPECT_EQ(full.status, 1) << args;
        EXPECT_NE(full.out.find("cannot write the output: No space left on device"), std::string::npos)
            << args << ": " << full.out;
    }
}

// A file-ID list written by anything cannot reach the terminal raw: a line
// whose stamp or size is not a number in range is shown whole and escaped,
// never in part as a number or a date.
TEST_F(Cli, listShowsLinesWhoseStampOrSizeIsNotANumberEscaped)
{
    const std::pair<std::string, std::string> cases[] = {
        {"/a\t2162688=3", "/a  1980-01-01T00:00:00  3\n"},
        {"/t\t\x1B]0;title\x07=3", "/t\\t\\x1B]0;title\\x07=3\n"},
        {"/s\t2162688=3\x1B[2J", "/s\\t2162688=3\\x1B[2J\n"},
        {"/j\t2162688junk=3", "/j\\t2162688junk=3\n"},
        {"/r\t99999999999=3", "/r\\t99999999999=3\n"},
        {"/n\t2162688=-3", "/n\\t2162688=-3\n"},
    };
    for (const auto& [list, shown] : cases) {
        WriteListOnlyArchive(root / "l.bck", list, 100);
        const auto out = Run("list --quiet " + Q(root / "l.bck"));
        EXPECT_EQ(out.status, 0);
        EXPECT_EQ(out.out, shown);
    }
}

// The header holds at most 2^31-1 bytes; list tells the real total from the
// file-ID list, as the backup said it.
TEST_F(Cli, listShowsTheRealTotalOfArchivesAbove2GiB)
{
    const std::string list = "/big\t2162688=2621440000\r\n/small\t2162688=46\r\n";
    WriteListOnlyArchive(root / "l.bck", list, 0x7FFFFFFF);
    const auto out = Run("list " + Q(root / "l.bck"));
    EXPECT_NE(out.out.find("Total size: " + std::to_string(2621440046 + list.size()) + " bytes\n"), std::string::npos)
        << out.out;
}

// Every text from an archive reaches the terminal through one escaping:
// controls (C0, DEL, C1), bidirectional controls and every byte that is not
// well-formed UTF-8 become escapes; printable characters stay as they are.
TEST(Printable, showsControlsAndMalformedUtf8AsEscapesAndTheRestAsItIs)
{
    const std::pair<std::string, std::string> cases[] = {
        {"/home/ann/caf\xC3\xA9 \xE6\x97\xA5 \xF0\x9F\x98\x80.txt", "/home/ann/caf\xC3\xA9 \xE6\x97\xA5 \xF0\x9F\x98\x80.txt"},
        {"\xF4\x8F\xBF\xBF\xEF\xBF\xBD", "\xF4\x8F\xBF\xBF\xEF\xBF\xBD"},  // U+10FFFF, U+FFFD
        {"a\x1B]0;title\x07", "a\\x1B]0;title\\x07"},
        {"two\nlines\t\r\x7F", "two\\nlines\\t\\r\\x7F"},
        {"\xC2\x9B" "2J", "\\xC2\\x9B2J"},                           // C1: the one-byte CSI
        {"\xC0\xAF|\xE0\x80\xAF|\xF0\x80\x80\xAF", "\\xC0\\xAF|\\xE0\\x80\\xAF|\\xF0\\x80\\x80\\xAF"},  // overlong
        {"\xED\xA0\x80", "\\xED\\xA0\\x80"},                         // a surrogate
        {"\xF4\x90\x80\x80|\xF5\x80\x80\x80", "\\xF4\\x90\\x80\\x80|\\xF5\\x80\\x80\\x80"},  // above U+10FFFF
        {"\xC3(|\xE6\x97", "\\xC3(|\\xE6\\x97"},                     // cut sequences
        {"doc\xE2\x80\xAEtxt.exe", "doc\\xE2\\x80\\xAEtxt.exe"},       // U+202E
        {"\xE2\x80\xAA\xE2\x81\xA6\xE2\x81\xA9", "\\xE2\\x80\\xAA\\xE2\\x81\\xA6\\xE2\\x81\\xA9"},  // U+202A, U+2066, U+2069
    };
    for (const auto& [raw, shown] : cases)
        EXPECT_EQ(arcovelo::cli::Printable(raw), shown);
}

// The progress line is cut by characters, never through one.
TEST(Printable, cutsTextByWholeCharacters)
{
    const std::string name = "a\xC3\xA9\xE6\x97\xA5";
    EXPECT_EQ(arcovelo::cli::CharacterCount(name), 3u);
    EXPECT_EQ(arcovelo::cli::LastCharacters(name, 2), "\xC3\xA9\xE6\x97\xA5");
    EXPECT_EQ(arcovelo::cli::LastCharacters(name, 5), name);
}

// An engine failure shows what lies behind it on the next line, escaped.
TEST(TerminalHost, showsTheFailuresDetailEscapedUnderItsMessage)
{
    arcovelo::cli::ProgressLine progress(false);
    arcovelo::cli::TerminalHost host(false, progress);
    std::ostringstream captured;
    auto* previous = std::cerr.rdbuf(captured.rdbuf());
    host.ShowFailure("Cannot write to archive", "/x/\x1B[2Jy.bck: No space left on device");
    host.ShowFailure("Cannot read archive", "");
    std::cerr.rdbuf(previous);
    EXPECT_EQ(captured.str(), "arcovelo-cli: Cannot write to archive\n  /x/\\x1B[2Jy.bck: No space left on device\n"
                              "arcovelo-cli: Cannot read archive\n");
}

}  // namespace

namespace {

// restore NAME... takes only what is named (less --exclude); -n prints the
// plan and writes nothing; -v names each file restored.
TEST_F(Cli, restoreTakesWhatIsNamedAndDryRunWritesNothing)
{
    Write(root / "src" / "sub" / "c.txt", "c");
    ASSERT_EQ(Run("backup " + Q(root / "a.bck") + " " + Q(root / "src" / "*") + "' /s' -q").status, 0);
    const std::string restore = "restore " + Q(root / "a.bck") + " sub --exclude '*.bin' --dest " + Q(root / "out");
    const auto plan = Run(restore + " -n");
    EXPECT_EQ(plan.status, 0) << plan.out;
    EXPECT_EQ(plan.out, "new              " + (root / "out" / "c.txt").string() + "\n1 of 1 file would be restored\n");
    EXPECT_FALSE(fs::exists(root / "out"));

    const auto verbose = Run(restore + " -v");
    EXPECT_EQ(verbose.status, 0) << verbose.out;
    EXPECT_EQ(verbose.out, (root / "out" / "c.txt").string() + "\n1 of 1 file restored\n");
    EXPECT_EQ(Read(root / "out" / "c.txt"), "c");
    EXPECT_EQ(std::distance(fs::directory_iterator(root / "out"), fs::directory_iterator()), 1);
    EXPECT_NE(Run(restore + " -n").out.find("replace          "), std::string::npos);
}

// Without --dest a restore writes over the stored paths only when told to.
TEST_F(Cli, restoreToTheStoredPathsNeedsToOriginal)
{
    ASSERT_EQ(Run("backup " + Q(root / "a.bck") + " " + Q(root / "src" / "a.txt") + " -q").status, 0);
    Write(root / "src" / "a.txt", "newer work");
    const auto bare = Run("restore " + Q(root / "a.bck"));
    EXPECT_EQ(bare.status, 2);
    EXPECT_NE(bare.out.find("--dest DIR"), std::string::npos) << bare.out;
    EXPECT_NE(bare.out.find("--to-original"), std::string::npos) << bare.out;
    EXPECT_EQ(Run("restore " + Q(root / "a.bck") + " --to-original --dest " + Q(root / "out")).status, 2);
    EXPECT_EQ(Read(root / "src" / "a.txt"), "newer work");

    EXPECT_EQ(Run("restore " + Q(root / "a.bck") + " --to-original -q").status, 0);
    EXPECT_EQ(Read(root / "src" / "a.txt"), std::string(50000, 'a'));
}

// compare exits as cmp does: 0 all the same, 1 when one byte differs or a
// file is missing, each such file named.
TEST_F(Cli, compareNamesWhatDiffersAndExitsOneForIt)
{
    ASSERT_EQ(Run("backup " + Q(root / "a.bck") + " " + Q(root / "src" / "*") + "' /s' -q").status, 0);
    const auto same = Run("compare " + Q(root / "a.bck"));
    EXPECT_EQ(same.status, 0) << same.out;
    EXPECT_NE(same.out.find("2 files compared: 2 same"), std::string::npos) << same.out;

    std::string changed = Read(root / "src" / "sub" / "r.bin");
    changed[123456] = char(changed[123456] ^ 0x40);
    Write(root / "src" / "sub" / "r.bin", changed);
    fs::remove(root / "src" / "a.txt");
    const auto differs = Run("compare " + Q(root / "a.bck"));
    EXPECT_EQ(differs.status, 1);
    EXPECT_NE(differs.out.find("differs    " + (root / "src" / "sub" / "r.bin").string() + "\n"), std::string::npos)
        << differs.out;
    EXPECT_NE(differs.out.find("missing    " + (root / "src" / "a.txt").string() + "\n"), std::string::npos);
    EXPECT_EQ(Run("compare " + Q(root / "a.bck") + " '*.txt' --dest " + Q(root / "src" / "sub") + " -q").status, 1);
    Write(root / "src" / "sub" / "a.txt", std::string(50000, 'a'));
    EXPECT_EQ(Run("compare " + Q(root / "a.bck") + " '*.txt' --dest " + Q(root / "src" / "sub") + " -q").status, 0);
}

// list --json: Python's json reads every line, and each name, encoded as the
// file system encodes names, is the very file that was backed up.
TEST_F(Cli, listJsonGivesEveryNameBackToPython)
{
    fs::create_directories(root / "odd");
    for (const std::string name : {"bad\xff\xfe name", "line\nend\t\"q\\", "caf\xc3\xa9 \xed\xa0\x80", "ctl\x01\x7f"})
        Write(root / "odd" / name, name);
    ASSERT_EQ(Run("backup " + Q(root / "a.bck") + " " + Q(root / "odd" / "*") + " -q --title 'T\xff'").status, 0);
    Write(root / "check.py", "import json, os, sys\n"
                             "lines = [json.loads(l) for l in open(sys.argv[1], 'rb')]\n"
                             "assert lines[0]['files'] == 4 and lines[0]['listed'], lines[0]\n"
                             "assert os.fsencode(lines[0]['title']) == b'T\\xff', lines[0]\n"
                             "for f in lines[1:]:\n"
                             "    assert open(os.fsencode(f['name']), 'rb').read() == os.fsencode(f['name']).split(b'/')[-1]\n"
                             "    assert f['size'] == len(os.fsencode(f['name']).split(b'/')[-1]) and f['date'][4] == '-'\n"
                             "print('parsed', len(lines) - 1)\n");
    const auto parsed = Run("list " + Q(root / "a.bck") + " --json >" + Q(root / "list.json") + "; python3 " +
                            Q(root / "check.py") + " " + Q(root / "list.json"));
    EXPECT_EQ(parsed.status, 0) << parsed.out;
    EXPECT_EQ(parsed.out, "parsed 4\n");
}

}  // namespace

namespace {

// backup takes a folder as a person names it; --exclude leaves out names
// (without /) or paths (with /) and does not enter excluded folders; hidden
// folders are counted, and entered with --hidden.
TEST_F(Cli, backupTakesAFolderLessItsExclusionsAndCountsHiddenFolders)
{
    fs::create_directories(root / "src" / "sub" / "cache");
    fs::create_directories(root / "src" / ".git");
    Write(root / "src" / "sub" / "cache" / "c.txt", "c");
    Write(root / "src" / "sub" / "x.log", "l");
    Write(root / "src" / ".git" / "h", "h");
    // The files named by -v and the note on hidden folders, without the summary line.
    const auto files = [&](const std::string& args) {
        auto backup = Run("backup " + Q(root / "a.bck") + " " + args + " -v");
        EXPECT_EQ(backup.status, 0) << backup.out;
        std::string& out = backup.out;
        const auto summary = out.find(" files, ");
        if (summary == std::string::npos)
            return out;
        const auto start = out.rfind('\n', summary) + 1;
        return out.erase(start, out.find('\n', summary) + 1 - start);
    };
    const std::string a = (root / "src" / "a.txt").string() + "\n";
    const std::string r = (root / "src" / "sub" / "r.bin").string() + "\n";
    const std::string c = (root / "src" / "sub" / "cache" / "c.txt").string() + "\n";
    const std::string l = (root / "src" / "sub" / "x.log").string() + "\n";
    const std::string h = (root / "src" / ".git" / "h").string() + "\n";
    const std::string hidden = "1 hidden folder not entered (--hidden enters them)\n";
    for (const std::string& entry : {Q(root / "src"), Q(root / "src") + "/", Q(root / "src") + "' /s'"})
        EXPECT_EQ(files(entry), c + r + l + a + hidden) << entry;
    EXPECT_EQ(files(Q(root / "src") + " --exclude cache --exclude '*.log'"),
              r + a + hidden);
    EXPECT_EQ(files(Q(root / "src") + " --exclude " + Q(root / "src" / "sub") + " --hidden"),
              h + a);
}

}  // namespace
