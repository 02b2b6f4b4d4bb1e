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
#include <sys/ioctl.h>
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

// The engine's prompt is written for a box with an OK button; on a terminal
// the answer is typed.
std::string TypedPrompt(std::string text)
{
    const std::string button = "click OK";
    if (const auto at = text.find(button); at != std::string::npos)
        text.replace(at, button.size(), "press Enter");
    return text;
}

bool TerminalHost::AskForDisk(const std::string& text)
{
    if (answerYes_)
        return true;
    progress_.Clear();
    std::cerr << Printable(TypedPrompt(text)) << " (c and Enter: cancel) " << std::flush;
    if (!IsTerminal(stdin)) {
        std::cerr << "(no terminal: cancelled)\n";
        return false;
    }
    std::string answer;
    if (StopOnSignals::StopRequested() || !std::getline(std::cin, answer))
        return false;
    return answer.empty() || answer[0] == 'o' || answer[0] == 'O' || answer[0] == 'y' || answer[0] == 'Y';
}

bool TerminalHost::AsksPersonForDisks() const { return !answerYes_ && IsTerminal(stdin); }

void TerminalHost::ShowError(const std::string& text) { ShowFailure(text, ""); }

void TerminalHost::ShowFailure(const std::string& message, const std::string& detail)
{
    progress_.Clear();
    std::cerr << "arcovelo-cli: " << Printable(message) << "\n";
    if (!detail.empty())
        std::cerr << "  " << Printable(detail) << "\n";
}

void TerminalHost::ShowWarning(const std::string& text)
{
    progress_.Clear();
    std::cerr << "arcovelo-cli: warning: " << Printable(text) << "\n";
}

void TerminalHost::ProcessMessages()
{
    if (onYield)
        onYield();
}

namespace {

// A code point and the length of its UTF-8 form; length 0 when the bytes at
// `at` are not well-formed UTF-8.
struct Decoded {
    std::size_t length = 0;
    char32_t value = 0;
};

Decoded DecodeUtf8(std::string_view text, std::size_t at)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    if (lead < 0x80)
        return {1, lead};
    std::size_t length = 0;
    char32_t smallest = 0;  // below it the form is overlong
    if (lead >= 0xC2 && lead <= 0xDF)
        length = 2, smallest = 0x80;
    else if (lead >= 0xE0 && lead <= 0xEF)
        length = 3, smallest = 0x800;
    else if (lead >= 0xF0 && lead <= 0xF4)
        length = 4, smallest = 0x10000;
    else
        return {};
    if (at + length > text.size())
        return {};
    char32_t value = lead & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80)
            return {};
        value = (value << 6) | (byte(at + i) & 0x3F);
    }
    if (value < smallest || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return {};
    return {length, value};
}

// Controls that move the cursor, change the terminal's state or reorder what
// follows them on screen.
bool IsControl(char32_t c)
{
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069) ||
           c == 0x200E || c == 0x200F || c == 0x061C;
}

void AppendHex(std::string& out, std::string_view bytes)
{
    for (const char b : bytes) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned char>(b));
        out += hex;
    }
}

std::string TimeText(double seconds)
{
    const long s = static_cast<long>(seconds + 0.5);
    char out[32];
    std::snprintf(out, sizeof out, "%ld:%02ld", s / 60, s % 60);
    return out;
}

// Columns of the terminal on stderr; 80 when it cannot be told.
std::size_t TerminalColumns()
{
#ifdef _WIN32
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (::GetConsoleScreenBufferInfo(::GetStdHandle(STD_ERROR_HANDLE), &info))
        return static_cast<std::size_t>(info.srWindow.Right - info.srWindow.Left + 1);
#else
    struct winsize size {};
    if (::ioctl(::fileno(stderr), TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
#endif
    return 80;
}

}  // namespace

std::string Printable(std::string_view text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        const Decoded d = DecodeUtf8(text, i);
        if (d.length == 0) {
            AppendHex(out, text.substr(i, 1));
            ++i;
            continue;
        }
        if (d.value == '\n' || d.value == '\t' || d.value == '\r')
            out += d.value == '\n' ? "\\n" : d.value == '\t' ? "\\t" : "\\r";
        else if (IsControl(d.value))
            AppendHex(out, text.substr(i, d.length));
        else
            out.append(text.substr(i, d.length));
        i += d.length;
    }
    return out;
}

std::size_t CharacterCount(std::string_view text)
{
    std::size_t count = 0;
    for (const char b : text)
        count += (static_cast<unsigned char>(b) & 0xC0) != 0x80;
    return count;
}

std::string LastCharacters(const std::string& text, std::size_t count)
{
    std::size_t start = text.size();
    for (std::size_t taken = 0; start > 0 && taken < count;) {
        --start;
        taken += (static_cast<unsigned char>(text[start]) & 0xC0) != 0x80;
    }
    return text.substr(start);
}

ProgressLine::ProgressLine(bool enabled)
    : enabled_(enabled && IsTerminal(stderr)), start_(std::chrono::steady_clock::now()), last_(start_)
{
}

ProgressLine::~ProgressLine() { Clear(); }

void ProgressLine::Show(const std::string& file, int percent, std::int64_t bytes, std::int64_t total)
{
    if (!enabled_)
        return;
    const auto now = std::chrono::steady_clock::now();
    if (shownWidth_ != 0 && now - last_ < std::chrono::milliseconds(100) && percent != 100)
        return;
    last_ = now;
    const double seconds = std::chrono::duration<double>(now - start_).count();
    const double rate = seconds > 0 ? double(bytes) / 1e6 / seconds : 0.0;
    const std::string left = bytes > 0 && total > bytes ? TimeText(seconds * double(total - bytes) / double(bytes)) : "-";
    char figures[96];
    std::snprintf(figures, sizeof figures, "%3d %%  %8.1f MB/s  %6s left  ", percent, rate, left.c_str());
    std::string line = figures;
    // The last column stays free: writing into it makes some terminals wrap.
    const std::size_t columns = TerminalColumns();
    const std::size_t room = columns > line.size() + 1 ? columns - line.size() - 1 : 0;
    const std::string name = Printable(file);
    if (CharacterCount(name) <= room)
        line += name;
    else if (room > 3)
        line += "..." + LastCharacters(name, room - 3);
    const std::size_t width = CharacterCount(line);
    if (width < shownWidth_)
        line.append(shownWidth_ - width, ' ');
    shownWidth_ = width;
    std::fprintf(stderr, "\r%s", line.c_str());
    std::fflush(stderr);
}

void ProgressLine::Clear()
{
    if (shownWidth_ == 0)
        return;
    std::fprintf(stderr, "\r%s\r", std::string(shownWidth_, ' ').c_str());
    std::fflush(stderr);
    shownWidth_ = 0;
}

}  // namespace arcovelo::cli
