#include "cli.h"

#include "backup.h"
#include "dosdate.h"
#include "format.h"
#include "json.h"
#include "terminal.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <iomanip>
#include <iostream>
#include <limits>
#include <map>
#include <optional>
#include <string_view>

namespace arcovelo::cli {
namespace {

const char* const kStatusText =
    "ENTRY is a folder (all it holds), a file name or a mask (* and ?), optionally\n"
    "followed by \" /s\" to take the matching files of every subfolder too; hidden\n"
    "folders are entered only with --hidden. ARCHIVE is the first volume (.bck).\n"
    "NAME (restore, compare) is a stored name as list shows it, a mask or a folder;\n"
    "one without a / matches any one file or folder name in the path.\n"
    "Exit status: 0 success, 1 failure, 2 bad usage, 3 cancelled (also by Ctrl-C),\n"
    "4 the archive was written but something asked for could not be taken (each is\n"
    "named on stderr), 10 + the engine's error code when it reported one; compare:\n"
    "0 every file the same, 1 one differs or is missing.\n";

// The volume size: 0 (one volume) or enough for a chunk.
std::string CheckVolumeSize(const std::string& text)
{
    std::size_t used = 0;
    long long value = -1;
    try {
        value = std::stoll(text, &used);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used != text.size() || value < 0 || value > 0x7FFFFFFF || (value > 0 && value < format::kMinVolumeSize))
        return "takes 0 (one volume) or a number of bytes from " + std::to_string(format::kMinVolumeSize) +
               " to 2147483647";
    return "";
}

const std::map<std::string, TCompressionLevel> kLevels = {
    {"fastest", clFastest}, {"none", clNone}, {"default", clDefault}, {"max", clMax}};
const std::map<std::string, TRestoreMode> kModes = {{"all", rmAll},
                                                    {"no-overwrite", rmNoOverwrite},
                                                    {"newer", rmNewer},
                                                    {"existing", rmExisting},
                                                    {"existing-newer", rmExistingNewer}};

template <typename Value>
std::vector<std::string> NamesOf(const std::map<std::string, Value>& values)
{
    std::vector<std::string> names;
    for (const auto& [name, value] : values)
        names.push_back(name);
    return names;
}

// What the command line asked for.
struct Request {
    std::string archive;
    std::vector<std::string> entries;
    std::string title = "Predefinito";
    bool incremental = false;
    std::string level = "fastest";
    std::string volumeSize = "0";
    bool noFileList = false;
    bool keepArchiveFlags = false;
    std::string dest;
    bool fullPath = false;
    std::string mode = "all";
    bool yes = false;
    bool quiet = false;
    bool verbose = false;
    std::vector<std::string> names;  // restore, compare: the stored names, masks or folders to take
    std::vector<std::string> excludes;
    bool toOriginal = false;
    bool dryRun = false;
    bool json = false;
    bool hidden = false;
};

// Wires the engine to the terminal: host, progress line, error and warning
// capture, Ctrl-C as Stop.
struct Session {
    ProgressLine progress;
    std::shared_ptr<TerminalHost> host;
    TBackupFile engine;
    StopOnSignals signals;
    int reportedError = 0;
    int warnings = 0;

    Session(bool yes, bool quiet) : progress(!quiet), host(std::make_shared<TerminalHost>(yes, progress))
    {
        host->onYield = [this] {
            if (StopOnSignals::StopRequested())
                engine.Stop();
        };
        engine.SetHost(host);
        engine.OnWarning = [this](TBackupFile*, const std::string& text) {
            ++warnings;
            host->ShowWarning(text);
        };
        engine.OnProgress = [this](TBackupFile* sender, const std::string& file, TPercentage percent, bool& cont) {
            if (StopOnSignals::StopRequested())
                cont = false;
            progress.Show(file, percent, sender->BytesProcessed(), sender->TotalSize());
        };
        engine.OnError = [this](TBackupFile* sender, int code, const std::string& message) {
            reportedError = code;
            host->ShowFailure(message, sender->ErrorDetail());
        };
    }

    // With --yes a volume that is still missing after the first answer is not
    // asked for again (nobody would put it in): the run is cancelled instead.
    void GiveUpOnMissingVolumes(const std::string& archive)
    {
        engine.OnNeedDisk = [this, archive, asked = std::optional<std::uint16_t>()](
                                TBackupFile*, std::uint16_t disk, bool& cont) mutable {
            cont = !(asked && *asked == disk);
            if (!cont)
                host->ShowError("volume " + std::to_string(disk) + " of " + archive + " not found");
            asked = disk;
        };
    }

    // Each file on stdout as it is written or restored (a file that goes on
    // in the next volume once).
    void ShowEachFile()
    {
        auto show = [this, last = std::string()](const std::string& file) mutable {
            if (file == last)
                return;
            last = file;
            progress.Clear();
            std::cout << Printable(file) << "\n";
        };
        engine.OnFileWritten = [show](TBackupFile*, const std::string& file) mutable { show(file); };
        engine.OnFileRestored = [show](TBackupFile*, std::string& file, Stream&) mutable { show(file); };
    }

    // False, said on stderr, when `archive` is not there.
    bool ArchiveExists(const std::string& archive)
    {
        if (engine.Files().KindOf(archive) != PathKind::Missing)
            return true;
        std::cerr << "arcovelo-cli: " << Printable(archive) << ": no such archive\n";
        return false;
    }

    int Status(bool ok)
    {
        progress.Clear();
        if (reportedError != 0)
            return kEngineError + reportedError;
        if (!ok)
            return kCancelled;
        return warnings != 0 ? kIncomplete : kSuccess;
    }
};

// "1 file", "2 files".
std::string Counted(std::int64_t count, const std::string& noun)
{
    return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

// One line of the file-ID list. When the line ends in a TAB, a date stamp,
// "=" and a size, each a number in range, `name` is what comes before;
// otherwise `name` is the whole line and there is no stamp or size.
struct ListEntry {
    std::string name;
    std::optional<std::int32_t> stamp;
    std::optional<std::int64_t> size;
};

ListEntry SplitListLine(const std::string& line)
{
    format::ListedFile file;
    if (!format::ParseListedFile(line, file) || file.size < 0)
        return {line, {}, {}};
    return {file.name, file.stamp, file.size};
}

// The header keeps at most 2^31-1 bytes. Beyond, the real total is the
// files' sizes plus the list's own text (each line and its CR LF), when
// every line of the list tells its size.
std::string TotalOf(std::int64_t header, const std::vector<std::string>& lines)
{
    if (header < format::kMaxHeaderValue)
        return std::to_string(header);
    const std::string unknown = "at least " + std::to_string(header);
    if (lines.empty())
        return unknown;
    std::int64_t total = 0;
    for (const auto& line : lines) {
        const auto size = SplitListLine(line).size;
        const auto bytes = static_cast<std::int64_t>(line.size()) + 2;
        if (!size || *size > std::numeric_limits<std::int64_t>::max() - bytes - total)
            return unknown;  // a list that tells no size, or sizes no disk holds
        total += *size + bytes;
    }
    return std::to_string(total);
}

// A folder named as an entry ("Documents", "Documents/", "Documents /s")
// takes all its files and subfolders, as a folder dropped on the window does.
// Other entries stay as they are.
std::string EntryFor(FileSystem& fs, const std::string& entry)
{
    std::string base = entry;
    while (!base.empty() && static_cast<unsigned char>(base.back()) <= ' ')
        base.pop_back();
    const bool marked = base.size() > 2 && (base.ends_with("/s") || base.ends_with("/S")) &&
                        static_cast<unsigned char>(base[base.size() - 3]) <= ' ';
    if (marked)
        base.resize(base.size() - 2);
    while (!base.empty() && static_cast<unsigned char>(base.back()) <= ' ')
        base.pop_back();
    if (base.empty() || base.find_first_of("*?") != std::string::npos || !fs.FolderExists(base))
        return entry;
    while (base.size() > 1 && IsPathSeparator(base.back()))
        base.pop_back();
    return base + (IsPathSeparator(base.back()) ? "" : std::string(1, kPathSeparator)) + "*.* /s";
}

// An exclusion with a separator names a path: a relative one is taken from
// the current folder (one that begins with * matches anywhere as it is).
std::string ExclusionFor(FileSystem& fs, const std::string& mask)
{
    const bool path = std::any_of(mask.begin(), mask.end(), IsPathSeparator);
    if (!path || mask[0] == '*' || IsPathSeparator(mask[0]) || fs.AbsolutePath(mask) == mask)
        return mask;
    return StoredName(fs.AbsolutePath(mask));
}

int Backup(const Request& r)
{
    Session s(r.yes, r.quiet);
    TBackupFile& e = s.engine;
    e.SetBackupTitle(r.title);
    e.SetBackupMode(r.incremental ? bmIncremental : bmAll);
    e.SetCompressionLevel(kLevels.at(r.level));
    e.SetMaxSize(static_cast<std::int32_t>(std::stoll(r.volumeSize)));
    e.SetSaveFileID(!r.noFileList);
    e.SetSetArchiveFlag(!r.keepArchiveFlags);
    if (r.verbose)
        s.ShowEachFile();
    std::vector<std::string> entries;
    for (const auto& entry : r.entries)
        entries.push_back(EntryFor(e.Files(), entry));
    std::vector<std::string> exclusions;
    for (const auto& mask : r.excludes)
        exclusions.push_back(ExclusionFor(e.Files(), mask));
    e.SetBackupExclude(std::move(exclusions));
    e.SetBackupHidden(r.hidden);
    const bool ok = e.Backup(entries, r.archive);
    const int status = s.Status(ok);
    // Data that does not compress makes the archive a little larger than
    // the files: that is no compression, not a negative one.
    if (ok && !r.quiet)
        std::cout << Counted(e.FileCount(), "file") << ", " << e.TotalSize() << " bytes, compression "
                  << std::clamp(e.CompressionRate(), 0, 100) << " %\n";
    if (ok && !r.quiet && e.HiddenFoldersSkipped() != 0)
        std::cout << Counted(e.HiddenFoldersSkipped(), "hidden folder") << " not entered (--hidden enters them)\n";
    return status;
}

// The stamp as local date and time, or as it is stored when it is no date.
std::string FormatStamp(std::int32_t stamp)
{
    std::time_t t = 0;
    std::tm local{};
    if (!TimeFromDosStamp(stamp, t) || !LocalTimeOf(t, local))
        return std::to_string(stamp);
    char out[32];
    std::strftime(out, sizeof out, "%Y-%m-%dT%H:%M:%S", &local);
    return out;
}

// One JSON object a line: the title and counts, then each listed file.
void PrintJsonList(const TBackupFile& engine, const std::string& title, const std::vector<std::string>& lines)
{
    std::cout << "{\"title\": " << JsonString(title) << ", \"files\": " << engine.FileCount()
              << ", \"total_size\": " << engine.TotalSize() << ", \"listed\": " << (lines.empty() ? "false" : "true")
              << "}\n";
    for (const auto& line : lines) {
        format::ListedFile file;
        if (format::ParseListedFile(line, file))
            std::cout << "{\"name\": " << JsonString(file.name) << ", \"date\": "
                      << JsonString(FormatStamp(file.stamp)) << ", \"size\": " << file.size << "}\n";
        else
            std::cout << "{\"name\": " << JsonString(line) << ", \"date\": null, \"size\": null}\n";
    }
}

int List(const Request& r)
{
    Session s(false, true);
    if (!s.ArchiveExists(r.archive))
        return kFailure;
    std::vector<std::string> lines;
    std::string title;
    s.engine.GetArchiveInfo(r.archive, &lines, title);
    if (s.reportedError != 0)
        return kEngineError + s.reportedError;
    if (r.json) {
        PrintJsonList(s.engine, title, lines);
        return kSuccess;
    }
    if (!r.quiet) {
        std::cout << "Title: " << Printable(title) << "\nFiles: " << s.engine.FileCount()
                  << "\nTotal size: " << TotalOf(s.engine.TotalSize(), lines) << " bytes\n";
        if (lines.empty())
            std::cout << "Nessuna informazione estesa dei files per questo archivio.\n";
    }
    for (const auto& line : lines) {
        const ListEntry entry = SplitListLine(line);
        if (!entry.size)
            std::cout << Printable(entry.name) << "\n";
        else
            std::cout << Printable(entry.name) << "  " << FormatStamp(*entry.stamp) << "  " << *entry.size << "\n";
    }
    return kSuccess;
}

const char* ActionText(TPlanAction action)
{
    switch (action) {
    case paWrite: return "new";
    case paReplace: return "replace";
    case paSkipExists: return "skip (exists)";
    case paSkipNotNewer: return "skip (not newer)";
    case paSkipMissing: return "skip (missing)";
    case paRefuse: return "refuse";
    }
    return "";
}

// -n: one line per selected file, what the restore would do and where.
int PlanRestore(Session& s, const Request& r)
{
    std::vector<TRestorePlanEntry> plan;
    const bool ok = s.engine.PlanRestore(r.archive, r.dest, plan);
    const int status = s.Status(ok);
    int writes = 0;
    int refused = 0;
    for (const auto& p : plan) {
        writes += p.action == paWrite || p.action == paReplace;
        refused += p.action == paRefuse;
        std::cout << std::left << std::setw(17) << ActionText(p.action) << Printable(p.destination);
        if (!p.reason.empty())
            std::cout << " (" << Printable(p.reason) << ")";
        std::cout << "\n";
    }
    if (!r.quiet)
        std::cout << writes << " of " << Counted(std::int64_t(plan.size()), "file") << " would be restored\n";
    if (refused != 0 && status == kSuccess) {
        std::cerr << "arcovelo-cli: the restore would stop at " << refused << " destination(s) it cannot write\n";
        return kFailure;
    }
    return status;
}

// Restore and compare: the NAMEs (none: every file) less the exclusions,
// where they go, and with --yes no second wait for a missing volume. False
// when there is no archive (said on stderr).
bool ReadySelectedReading(Session& s, const Request& r)
{
    s.engine.SetRestoreFullPath(r.fullPath);
    s.engine.SetSelection({r.names, r.excludes});
    if (r.yes)
        s.GiveUpOnMissingVolumes(r.archive);
    return s.ArchiveExists(r.archive);
}

int Restore(const Request& r)
{
    if (r.dest.empty() && !r.toOriginal) {
        std::cerr << "arcovelo-cli: restore needs --dest DIR, or --to-original to write the files back to their "
                     "stored paths\nRun 'arcovelo-cli restore --help' for the options.\n";
        return kUsage;
    }
    Session s(r.yes, r.quiet);
    s.engine.SetRestoreMode(kModes.at(r.mode));
    if (!ReadySelectedReading(s, r))
        return kFailure;
    if (r.dryRun)
        return PlanRestore(s, r);
    if (r.verbose)
        s.ShowEachFile();
    const bool ok = s.engine.Restore(r.archive, r.dest);
    const int status = s.Status(ok);
    if (!r.quiet)
        std::cout << s.engine.ProcessedCount() << " of " << Counted(s.engine.FileCount(), "file") << " restored\n";
    return status;
}

const char* ResultText(TCompareResult result)
{
    switch (result) {
    case crSame: return "same";
    case crDiffers: return "differs";
    case crMissing: return "missing";
    case crUnreadable: return "unreadable";
    }
    return "";
}

// Like cmp and diff: 0 when every selected file is the same as at its restore
// destination, 1 when one differs or is missing (each named on stdout).
int Compare(const Request& r)
{
    Session s(r.yes, r.quiet);
    if (!ReadySelectedReading(s, r))
        return kFailure;
    std::vector<TCompareEntry> entries;
    const bool ok = s.engine.Compare(r.archive, r.dest, entries);
    const int status = s.Status(ok);
    std::map<TCompareResult, int> counts;
    for (const auto& e : entries) {
        ++counts[e.result];
        if (e.result != crSame || r.verbose)
            std::cout << std::left << std::setw(11) << ResultText(e.result) << Printable(e.destination) << "\n";
    }
    if (!r.quiet)
        std::cout << Counted(std::int64_t(entries.size()), "file") << " compared: " << counts[crSame] << " same, "
                  << counts[crDiffers] << " different, " << counts[crMissing] << " missing, " << counts[crUnreadable] << " unreadable\n";
    if (status != kSuccess)
        return status;
    return counts[crSame] == int(entries.size()) ? kSuccess : kFailure;
}

int Test(const Request& r)
{
    Session s(r.yes, r.quiet);
    if (r.yes)
        s.GiveUpOnMissingVolumes(r.archive);
    std::vector<ArchiveDamage> damage;
    const bool ok = s.engine.TestArchive(r.archive, damage);
    s.progress.Clear();
    for (const auto& d : damage)
        std::cerr << "arcovelo-cli: " << (d.file.empty() ? "archive" : Printable(d.file)) << ": " << Printable(d.what)
                  << "\n";
    if (ok && !r.quiet)
        std::cout << "OK: " << Counted(s.engine.ProcessedCount(), "record") << ", every chunk sound\n";
    return ok ? kSuccess : kFailure;
}

// The commands, their arguments and options; each command's callback runs
// its work and leaves the exit status in `status`.
void DefineCommands(CLI::App& app, Request& r, int& status)
{
    app.description("Back up files into .bck archives, list, check and restore them.");
    app.set_version_flag("--version", std::string("arcovelo-cli ") + ARCOVELO_VERSION);
    app.require_subcommand(1);
    // The same options everywhere: on Windows "/s" and paths begin with '/'.
    app.allow_windows_style_options(false);
    app.footer(kStatusText);
    const auto archive = [&r](CLI::App* command) {
        command->add_option("ARCHIVE", r.archive, "the archive (its first volume)")->required();
    };
    const auto prompts = [&r](CLI::App* command) {
        command->add_flag("-y,--yes", r.yes, "answer OK to every disk prompt");
        command->add_flag("-q,--quiet", r.quiet, "no progress line and no summary");
    };
    const auto selection = [&r](CLI::App* command) {
        command->add_option("NAME", r.names, "a stored name, a mask or a folder to take (default: every file)");
        command->add_option("--exclude", r.excludes, "leave out what matches MASK (repeatable)")
            ->type_name("MASK")
            ->allow_extra_args(false);
    };

    CLI::App* backup = app.add_subcommand("backup", "write the files matched by ENTRY... into ARCHIVE");
    archive(backup);
    backup->add_option("ENTRY", r.entries, "a folder, a file name or mask, optionally followed by \" /s\"")->required();
    backup->add_option("--title", r.title, "the backup's title")->capture_default_str();
    backup->add_flag("--incremental", r.incremental, "only the files changed since their last backup");
    backup->add_option("--level", r.level, "compression level")
        ->check(CLI::IsMember(NamesOf(kLevels)))
        ->capture_default_str();
    backup->add_option("--volume-size", r.volumeSize, "largest volume in bytes, 0 for one volume")
        ->check(CLI::Validator(CheckVolumeSize, "BYTES"))
        ->capture_default_str();
    backup->add_flag("--no-file-list", r.noFileList, "store no list of contents");
    backup->add_flag("--keep-archive-flags", r.keepArchiveFlags, "leave the files' archive flags set");
    backup->add_flag("-v,--verbose", r.verbose, "name each file as it is written");
    backup->add_option("--exclude", r.excludes, "leave out files and folders matching MASK (repeatable)")
        ->type_name("MASK")
        ->allow_extra_args(false);
    backup->add_flag("--hidden", r.hidden, "enter hidden folders too");
    prompts(backup);
    backup->callback([&] { status = Backup(r); });

    CLI::App* list = app.add_subcommand("list", "show the title, the counts and the contents of ARCHIVE");
    archive(list);
    list->add_flag("--json", r.json, "one JSON object a line: title and counts, then each file");
    list->add_flag("--quiet", r.quiet, "only the contents, one line per file");
    list->callback([&] { status = List(r); });

    CLI::App* restore = app.add_subcommand("restore", "restore the files of ARCHIVE (or only the NAMEs)");
    archive(restore);
    selection(restore);
    CLI::Option* dest = restore->add_option("--dest", r.dest, "restore below this folder");
    restore->add_flag("--to-original", r.toOriginal, "restore to the stored paths (instead of --dest)")->excludes(dest);
    restore->add_flag("-n,--dry-run", r.dryRun, "print what would be done with each file and write nothing");
    restore->add_flag("-v,--verbose", r.verbose, "name each file as it is restored");
    restore->add_flag("--full-path", r.fullPath, "keep the stored folders below --dest");
    restore->add_option("--mode", r.mode, "which files to write")
        ->check(CLI::IsMember(NamesOf(kModes)))
        ->capture_default_str();
    prompts(restore);
    restore->callback([&] { status = Restore(r); });

    CLI::App* compare = app.add_subcommand("compare", "compare the files of ARCHIVE with those on disk");
    archive(compare);
    selection(compare);
    compare->add_option("--dest", r.dest, "compare with the files below this folder (default: the stored paths)");
    compare->add_flag("--full-path", r.fullPath, "the stored folders are kept below --dest");
    compare->add_flag("-v,--verbose", r.verbose, "name the files that are the same too");
    prompts(compare);
    compare->callback([&] { status = Compare(r); });

    CLI::App* test = app.add_subcommand("test", "read every record of ARCHIVE and decode every chunk");
    archive(test);
    prompts(test);
    test->callback([&] { status = Test(r); });
}

// The first word that is not an option names the command; an unknown one
// is named back ("" when the command is known or there is none).
std::string UnknownCommand(const CLI::App& app, const std::vector<std::string>& args)
{
    for (const auto& arg : args) {
        if (arg == "--")
            return "";
        if (arg.empty() || arg[0] != '-') {
            for (const CLI::App* command : app.get_subcommands([](const CLI::App*) { return true; }))
                if (command->get_name() == arg)
                    return "";
            return arg;
        }
    }
    return "";
}

int Parse(CLI::App& app, const std::vector<std::string>& args, const int& status)
{
    if (const std::string unknown = UnknownCommand(app, args); !unknown.empty()) {
        std::cerr << "arcovelo-cli: unknown command \"" << Printable(unknown)
                  << "\"\nRun 'arcovelo-cli --help' for the commands and options.\n";
        return kUsage;
    }
    std::vector<const char*> argv{"arcovelo-cli"};
    for (const auto& a : args)
        argv.push_back(a.c_str());
    try {
        app.parse(static_cast<int>(argv.size()), argv.data());
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        std::cerr << "arcovelo-cli: " << Printable(e.what())
                  << "\nRun 'arcovelo-cli --help' for the commands and options.\n";
        return kUsage;
    } catch (const std::exception& e) {
        std::cerr << "arcovelo-cli: " << Printable(e.what()) << "\n";
        return kFailure;
    }
    return status;
}

// Output that did not reach its file is a failure (a full disk behind a
// redirection); a run that failed already keeps its own status.
int CheckOutput(int status)
{
    errno = 0;
    std::cout.flush();
    if (std::cout && std::fflush(stdout) == 0 && !std::ferror(stdout))
        return status;
    const int error = errno;
    std::cerr << "arcovelo-cli: cannot write the output" << (error != 0 ? std::string(": ") + std::strerror(error) : "")
              << "\n";
    return status == kSuccess ? kFailure : status;
}

}  // namespace

int RunCli(const std::vector<std::string>& args)
{
    CLI::App app{"", "arcovelo-cli"};
    Request request;
    int status = kSuccess;
    DefineCommands(app, request, status);
    return CheckOutput(Parse(app, args, status));
}

}  // namespace arcovelo::cli
