#include "cli.h"

#include "backup.h"
#include "dosdate.h"
#include "format.h"
#include "terminal.h"

#include <cstdio>
#include <ctime>
#include <iostream>
#include <map>
#include <optional>
#include <set>

namespace arcovelo::cli {
namespace {

const char* const kUsageText =
    "Usage:\n"
    "  arcovelo-cli backup ARCHIVE ENTRY... [--title TEXT] [--incremental]\n"
    "         [--level fastest|default|max|none] [--volume-size BYTES] [--no-file-list]\n"
    "         [--keep-archive-flags] [--yes] [--quiet]\n"
    "  arcovelo-cli list ARCHIVE\n"
    "  arcovelo-cli restore ARCHIVE [--dest DIR] [--full-path]\n"
    "         [--mode all|no-overwrite|newer|existing|existing-newer] [--yes] [--quiet]\n"
    "  arcovelo-cli test ARCHIVE [--yes] [--quiet]\n"
    "\n"
    "ENTRY is a file name or a mask (* and ?), optionally followed by \" /s\" to take\n"
    "the matching files of every subfolder too. ARCHIVE is the first volume (.bck).\n"
    "Exit status: 0 success, 1 failure, 2 bad usage, 3 cancelled (also by Ctrl-C),\n"
    "4 the archive was written but something asked for could not be taken (each is\n"
    "named on stderr), 10 + the engine's error code when it reported one.\n";

struct UsageError {
    std::string message;
};

// Splits the arguments into positional ones and --options; `valued` names the
// options that take the next argument as their value.
struct Arguments {
    std::vector<std::string> positional;
    std::map<std::string, std::string> options;

    Arguments(const std::vector<std::string>& args, const std::set<std::string>& valued,
              const std::set<std::string>& flags)
    {
        for (std::size_t i = 0; i < args.size(); ++i) {
            const std::string& a = args[i];
            if (a.rfind("--", 0) != 0 || a.size() == 2) {
                positional.push_back(a);
            } else if (valued.count(a)) {
                if (i + 1 >= args.size())
                    throw UsageError{a + " needs a value"};
                options[a] = args[++i];
            } else if (flags.count(a)) {
                options[a] = "";
            } else {
                throw UsageError{"unknown option " + a};
            }
        }
    }
    bool Has(const std::string& name) const { return options.count(name) != 0; }
    std::string Get(const std::string& name, const std::string& fallback) const
    {
        const auto it = options.find(name);
        return it == options.end() ? fallback : it->second;
    }
};

TCompressionLevel ParseLevel(const std::string& text)
{
    static const std::map<std::string, TCompressionLevel> levels = {
        {"fastest", clFastest}, {"none", clNone}, {"default", clDefault}, {"max", clMax}};
    const auto it = levels.find(text);
    if (it == levels.end())
        throw UsageError{"unknown level " + text};
    return it->second;
}

TRestoreMode ParseMode(const std::string& text)
{
    static const std::map<std::string, TRestoreMode> modes = {{"all", rmAll},
                                                              {"no-overwrite", rmNoOverwrite},
                                                              {"newer", rmNewer},
                                                              {"existing", rmExisting},
                                                              {"existing-newer", rmExistingNewer}};
    const auto it = modes.find(text);
    if (it == modes.end())
        throw UsageError{"unknown mode " + text};
    return it->second;
}

std::int32_t ParseVolumeSize(const std::string& text)
{
    std::size_t used = 0;
    long long value = -1;
    try {
        value = std::stoll(text, &used);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used != text.size() || value < 0 || value > 0x7FFFFFFF || (value > 0 && value < format::kMinVolumeSize))
        throw UsageError{"--volume-size takes 0 (one volume) or a number of bytes from " +
                         std::to_string(format::kMinVolumeSize) + " to 2147483647"};
    return static_cast<std::int32_t>(value);
}

// Wires the engine to the terminal: host, progress line, error and warning
// capture, Ctrl-C as Stop.
struct Session {
    TBackupFile engine;
    ProgressLine progress;
    StopOnSignals signals;
    int reportedError = 0;
    int warnings = 0;

    Session(bool yes, bool quiet) : progress(!quiet)
    {
        auto host = std::make_shared<TerminalHost>(yes);
        host->onYield = [this] {
            if (StopOnSignals::StopRequested())
                engine.Stop();
        };
        engine.SetHost(host);
        engine.OnWarning = [this](TBackupFile*, const std::string& text) {
            progress.Clear();
            ++warnings;
            std::cerr << "arcovelo-cli: warning: " << text << "\n";
        };
        engine.OnProgress = [this](TBackupFile* sender, const std::string& file, TPercentage percent, bool& cont) {
            if (StopOnSignals::StopRequested())
                cont = false;
            progress.Show(file, percent, sender->BytesProcessed());
        };
        engine.OnError = [this](TBackupFile*, int code, const std::string& message) {
            progress.Clear();
            reportedError = code;
            std::cerr << "arcovelo-cli: " << message << "\n";
        };
    }

    // With --yes a volume that is still missing after the first answer is not
    // asked for again (nobody would put it in): the run is cancelled instead.
    void GiveUpOnMissingVolumes(const std::string& archive)
    {
        engine.OnNeedDisk = [archive, asked = std::optional<std::uint16_t>()](
                                TBackupFile*, std::uint16_t disk, bool& cont) mutable {
            cont = !(asked && *asked == disk);
            if (!cont)
                std::cerr << "arcovelo-cli: volume " << disk << " of " << archive << " not found\n";
            asked = disk;
        };
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

int Backup(const std::vector<std::string>& args)
{
    const Arguments a(args, {"--title", "--level", "--volume-size"},
                      {"--incremental", "--no-file-list", "--keep-archive-flags", "--yes", "--quiet"});
    if (a.positional.size() < 2)
        throw UsageError{"backup needs an archive and at least one entry"};
    Session s(a.Has("--yes"), a.Has("--quiet"));
    TBackupFile& e = s.engine;
    e.SetBackupTitle(a.Get("--title", "Predefinito"));
    e.SetBackupMode(a.Has("--incremental") ? bmIncremental : bmAll);
    e.SetCompressionLevel(ParseLevel(a.Get("--level", "fastest")));
    e.SetMaxSize(ParseVolumeSize(a.Get("--volume-size", "0")));
    e.SetSaveFileID(!a.Has("--no-file-list"));
    e.SetSetArchiveFlag(!a.Has("--keep-archive-flags"));
    const std::vector<std::string> entries(a.positional.begin() + 1, a.positional.end());
    const bool ok = e.Backup(entries, a.positional[0]);
    const int status = s.Status(ok);
    if (ok && !a.Has("--quiet"))
        std::cout << e.FileCount() << " files, " << e.TotalSize() << " bytes, compression " << e.CompressionRate()
                  << " %\n";
    return status;
}

std::string FormatStamp(const std::string& text)
{
    std::time_t t = 0;
    try {
        if (!TimeFromDosStamp(static_cast<std::int32_t>(std::stol(text)), t))
            return text;
    } catch (const std::exception&) {
        return text;
    }
    std::tm local{};
    localtime_r(&t, &local);
    char out[32];
    std::strftime(out, sizeof out, "%Y-%m-%dT%H:%M:%S", &local);
    return out;
}

int List(const std::vector<std::string>& args)
{
    const Arguments a(args, {}, {});
    if (a.positional.size() != 1)
        throw UsageError{"list needs one archive"};
    Session s(false, true);
    if (s.engine.Files().KindOf(a.positional[0]) == PathKind::Missing) {
        std::cerr << "arcovelo-cli: " << a.positional[0] << ": no such archive\n";
        return kFailure;
    }
    std::vector<std::string> lines;
    std::string title;
    s.engine.GetArchiveInfo(a.positional[0], &lines, title);
    if (s.reportedError != 0)
        return kEngineError + s.reportedError;
    std::cout << "Title: " << title << "\nFiles: " << s.engine.FileCount() << "\nTotal size: "
              << s.engine.TotalSize() << " bytes\n";
    if (lines.empty())
        std::cout << "Nessuna informazione estesa dei files per questo archivio.\n";
    for (const auto& line : lines) {
        const auto tab = line.find('\t');
        const auto eq = tab == std::string::npos ? std::string::npos : line.find('=', tab);
        if (eq == std::string::npos) {
            std::cout << line << "\n";
            continue;
        }
        std::cout << line.substr(0, tab) << "  " << FormatStamp(line.substr(tab + 1, eq - tab - 1)) << "  "
                  << line.substr(eq + 1) << "\n";
    }
    return kSuccess;
}

int Restore(const std::vector<std::string>& args)
{
    const Arguments a(args, {"--dest", "--mode"}, {"--full-path", "--yes", "--quiet"});
    if (a.positional.size() != 1)
        throw UsageError{"restore needs one archive"};
    Session s(a.Has("--yes"), a.Has("--quiet"));
    s.engine.SetRestoreMode(ParseMode(a.Get("--mode", "all")));
    s.engine.SetRestoreFullPath(a.Has("--full-path"));
    if (a.Has("--yes"))
        s.GiveUpOnMissingVolumes(a.positional[0]);
    if (s.engine.Files().KindOf(a.positional[0]) == PathKind::Missing) {
        std::cerr << "arcovelo-cli: " << a.positional[0] << ": no such archive\n";
        return kFailure;
    }
    const bool ok = s.engine.Restore(a.positional[0], a.Get("--dest", ""));
    const int status = s.Status(ok);
    if (!a.Has("--quiet"))
        std::cout << s.engine.ProcessedCount() << " of " << s.engine.FileCount() << " files restored\n";
    return status;
}

int Test(const std::vector<std::string>& args)
{
    const Arguments a(args, {}, {"--yes", "--quiet"});
    if (a.positional.size() != 1)
        throw UsageError{"test needs one archive"};
    Session s(a.Has("--yes"), a.Has("--quiet"));
    if (a.Has("--yes"))
        s.GiveUpOnMissingVolumes(a.positional[0]);
    std::vector<ArchiveDamage> damage;
    const bool ok = s.engine.TestArchive(a.positional[0], damage);
    s.progress.Clear();
    for (const auto& d : damage)
        std::cout << (d.file.empty() ? "archive" : d.file) << ": " << d.what << "\n";
    if (ok)
        std::cout << "OK: " << s.engine.ProcessedCount() << " records, every chunk sound\n";
    return ok ? kSuccess : kFailure;
}

}  // namespace

int RunCli(const std::vector<std::string>& args)
{
    if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        (args.empty() ? std::cerr : std::cout) << kUsageText;
        return args.empty() ? kUsage : kSuccess;
    }
    const std::string command = args[0];
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    try {
        if (command == "backup")
            return Backup(rest);
        if (command == "list")
            return List(rest);
        if (command == "restore")
            return Restore(rest);
        if (command == "test")
            return Test(rest);
        throw UsageError{"unknown command " + command};
    } catch (const UsageError& e) {
        std::cerr << "arcovelo-cli: " << e.message << "\n" << kUsageText;
        return kUsage;
    } catch (const std::exception& e) {
        std::cerr << "\narcovelo-cli: " << e.what() << "\n";
        return kFailure;
    }
}

}  // namespace arcovelo::cli
