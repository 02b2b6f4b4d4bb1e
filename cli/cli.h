// arcovelo-cli: backup, list, restore and test from the command line, driving
// TBackupFile exactly as the window does.
#pragma once

#include <string>
#include <vector>

namespace arcovelo::cli {

enum ExitStatus : int {
    kSuccess = 0,
    kFailure = 1,     // any other failure, message on stderr
    kUsage = 2,
    kCancelled = 3,
    kIncomplete = 4,  // the archive is whole, but not everything asked for is in it

    kEngineError = 10,  // plus the engine's error code
};

// Runs one command; `args` excludes the program name.
int RunCli(const std::vector<std::string>& args);

}  // namespace arcovelo::cli
