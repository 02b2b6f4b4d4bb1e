#include "terminal.h"

#include <atomic>
#include <cstdio>
#include <iostream>

#ifdef _WIN32
#include <io.h>
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <csignal>
#include <signal.h>
#include <unistd.h>
#endif

namespace arcovelo::cli {
namespace {

std::atomic<bool> stopRequested{false};

#ifdef _WIN32
// Ctrl+C, Ctrl+Break and closing the console ask for a stop; the run then
// ends by itself.
BOOL WINAPI RequestStop(DWORD)
{
    stopRequested = true;
    return TRUE;
}

bool IsTerminal(std::FILE* stream) { return ::_isatty(::_fileno(stream)) != 0; }
#else
struct sigaction previousInt {};
struct sigaction previousTerm {};

extern "C" void RequestStop(int) { stopRequested = true; }

bool IsTerminal(std::FILE* stream) { return ::isatty(::fileno(stream)) != 0; }
#endif

}  // namespace

StopOnSignals::StopOnSignals()
{
    stopRequested = false;
#ifdef _WIN32
    ::SetConsoleCtrlHandler(RequestStop, TRUE);
#else
    struct sigaction action {};
    action.sa_handler = RequestStop;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no restart: a disk prompt waiting for input is cancelled
    sigaction(SIGINT, &action, &previousInt);
    sigaction(SIGTERM, &action, &previousTerm);
#endif
}

StopOnSignals::~StopOnSignals()
{
#ifdef _WIN32
    ::SetConsoleCtrlHandler(RequestStop, FALSE);
#else
    sigaction(SIGINT, &previousInt, nullptr);
    sigaction(SIGTERM, &previousTerm, nullptr);
#endif
}

bool StopOnSignals::StopRequested() { return stopRequested; }

bool TerminalHost::AskForDisk(const std::string& text)
{
    if (answerYes_)
        return true;
    std::cerr << text << " [Enter = OK, c = Cancel] " << std::flush;
    if (!IsTerminal(stdin)) {
        std::cerr << "(no terminal: cancelled)\n";
        return false;
    }
    std::string answer;
    if (StopOnSignals::StopRequested() || !std::getline(std::cin, answer))
        return false;
    return answer.empty() || answer[0] == 'o' || answer[0] == 'O' || answer[0] == 'y' || answer[0] == 'Y';
}

void TerminalHost::ShowError(const std::string& text) { std::cerr << "arcovelo-cli: " << text << "\n"; }

void TerminalHost::ShowWarning(const std::string& text) { std::cerr << "arcovelo-cli: warning: " << text << "\n"; }

void TerminalHost::ProcessMessages()
{
    if (onYield)
        onYield();
}

ProgressLine::ProgressLine(bool enabled)
    : enabled_(enabled && IsTerminal(stderr)), start_(std::chrono::steady_clock::now()), last_(start_)
{
}

namespace {

// Length of the UTF-8 sequence starting at `text[at]`, or 0 when it is not one.
std::size_t Utf8Length(const std::string& text, std::size_t at)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    const std::size_t n = lead < 0x80 ? 1 : (lead & 0xE0) == 0xC0 ? 2 : (lead & 0xF0) == 0xE0 ? 3 : (lead & 0xF8) == 0xF0 ? 4 : 0;
    if (n == 0 || at + n > text.size() || (n == 2 && lead < 0xC2))
        return 0;
    for (std::size_t i = 1; i < n; ++i)
        if ((byte(at + i) & 0xC0) != 0x80)
            return 0;
    return n;
}

std::string TimeText(double seconds)
{
    const long s = static_cast<long>(seconds + 0.5);
    char out[32];
    std::snprintf(out, sizeof out, "%ld:%02ld", s / 60, s % 60);
    return out;
}

}  // namespace

std::string Printable(const std::string& text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        const std::size_t n = Utf8Length(text, i);
        if (c == '\n' || c == '\t' || c == '\r') {
            out += c == '\n' ? "\\n" : c == '\t' ? "\\t" : "\\r";
        } else if (n == 0 || c < 0x20 || c == 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        } else {
            out.append(text, i, n);
            i += n;
            continue;
        }
        ++i;
    }
    return out;
}

void ProgressLine::Show(const std::string& file, int percent, std::int64_t bytes, std::int64_t total)
{
    if (!enabled_)
        return;
    const auto now = std::chrono::steady_clock::now();
    if (shown_ && now - last_ < std::chrono::milliseconds(100) && percent != 100)
        return;
    last_ = now;
    shown_ = true;
    const double seconds = std::chrono::duration<double>(now - start_).count();
    const double rate = seconds > 0 ? double(bytes) / 1e6 / seconds : 0.0;
    const std::string left = bytes > 0 && total > bytes ? TimeText(seconds * double(total - bytes) / double(bytes)) : "-";
    const std::string shown = Printable(file);
    const std::string name = shown.size() > 40 ? "..." + shown.substr(shown.size() - 37) : shown;
    std::fprintf(stderr, "\r%3d %%  %8.1f MB/s  %6s left  %-40s", percent, rate, left.c_str(), name.c_str());
    std::fflush(stderr);
}

void ProgressLine::Clear()
{
    if (!shown_)
        return;
    std::fprintf(stderr, "\r%*s\r", 75, "");
    std::fflush(stderr);
    shown_ = false;
}

}  // namespace arcovelo::cli
