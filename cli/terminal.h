// The command line's side of the engine: disk prompts on the terminal and a
// one-line progress display.
#pragma once

#include "host.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

namespace arcovelo::cli {

// Prompts on stderr and reads the answer from stdin; with `answerYes` every
// prompt is answered OK without asking. Without a terminal to ask, Cancel.
class TerminalHost : public BackupHost {
public:
    explicit TerminalHost(bool answerYes) : answerYes_(answerYes) {}
    bool AskForDisk(const std::string& text) override;
    void ShowError(const std::string& text) override;
    void ShowWarning(const std::string& text) override;
    // Runs `onYield` (set by the owner), between chunks.
    void ProcessMessages() override;
    // With --yes nobody is asked: the volumes all stay in one folder.
    bool AsksPersonForDisks() const override { return !answerYes_; }

    std::function<void()> onYield;

private:
    bool answerYes_;
};

// While it lives, SIGINT and SIGTERM only ask the running operation to stop
// (StopRequested turns true); a second signal while stopping changes nothing.
class StopOnSignals {
public:
    StopOnSignals();
    ~StopOnSignals();
    StopOnSignals(const StopOnSignals&) = delete;
    StopOnSignals& operator=(const StopOnSignals&) = delete;
    static bool StopRequested();
};

// `text` for one terminal line: control characters as C escapes (\n, \t, \r,
// \xNN) and bytes that are not UTF-8 as \xNN; everything else unchanged.
std::string Printable(const std::string& text);

// "\r 42 %  12.3 MB/s  0:07 left  /path/of/file" on a terminal, at most ten
// times a second; nothing with --quiet or without a terminal.
class ProgressLine {
public:
    explicit ProgressLine(bool enabled);
    void Show(const std::string& file, int percent, std::int64_t bytes, std::int64_t total);
    void Clear();

private:
    bool enabled_;
    bool shown_ = false;
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point last_;
};

}  // namespace arcovelo::cli
