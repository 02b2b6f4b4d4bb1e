// The command line's side of the engine: disk prompts on the terminal and a
// one-line progress display.
#pragma once

#include "host.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace arcovelo::cli {

class ProgressLine;

// Prompts on stderr and reads the answer from stdin; with `answerYes` every
// prompt is answered OK without asking. Without a terminal to ask, Cancel.
// Every text is escaped and goes out with the progress line cleared first.
class TerminalHost : public BackupHost {
public:
    TerminalHost(bool answerYes, ProgressLine& progress) : answerYes_(answerYes), progress_(progress) {}
    bool AskForDisk(const std::string& text) override;
    void ShowError(const std::string& text) override;
    void ShowWarning(const std::string& text) override;
    // The message, then on the next line what lies behind it (when known).
    void ShowFailure(const std::string& message, const std::string& detail);
    // Runs `onYield` (set by the owner), between chunks.
    void ProcessMessages() override;
    // With --yes, or without a terminal to ask on, nobody is asked: the
    // volumes all stay in one folder.
    bool AsksPersonForDisks() const override;

    std::function<void()> onYield;

private:
    bool answerYes_;
    ProgressLine& progress_;
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

// `text` for one terminal line, so that no name can move the cursor, change
// the terminal's state or show itself as another name: C0 and C1 controls and
// DEL as C escapes (\n, \t, \r) or \xNN of their bytes, the bidirectional
// controls (U+202A-U+202E, U+2066-U+2069, U+200E, U+200F, U+061C) as \xNN of
// their bytes, and every byte that is not part of well-formed UTF-8 (overlong
// forms, surrogates, code points above U+10FFFF, cut sequences) as \xNN.
// Everything else unchanged. Every text from an archive or the engine reaches
// the terminal through here.
std::string Printable(std::string_view text);

// The last `count` characters of `text` (well-formed UTF-8, as Printable
// gives), never half a character.
std::string LastCharacters(const std::string& text, std::size_t count);
std::size_t CharacterCount(std::string_view text);

// "\r 42 %  12.3 MB/s  0:07 left  /path/of/file" on a terminal, at most ten
// times a second, as wide as the terminal; nothing with --quiet or without a
// terminal. Cleared when it goes away.
class ProgressLine {
public:
    explicit ProgressLine(bool enabled);
    ~ProgressLine();
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;
    void Show(const std::string& file, int percent, std::int64_t bytes, std::int64_t total);
    void Clear();

private:
    bool enabled_;
    std::size_t shownWidth_ = 0;  // characters on the line now; 0 when cleared
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point last_;
};

}  // namespace arcovelo::cli
