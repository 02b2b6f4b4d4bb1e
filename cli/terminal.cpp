#include "terminal.h"

#include <csignal>
#include <cstdio>
#include <iostream>
#include <signal.h>
#include <unistd.h>

namespace arcovelo::cli {
namespace {

volatile std::sig_atomic_t stopRequested = 0;
struct sigaction previousInt {};
struct sigaction previousTerm {};

extern "C" void RequestStop(int) { stopRequested = 1; }

}  // namespace

StopOnSignals::StopOnSignals()
{
    stopRequested = 0;
    struct sigaction action {};
    action.sa_handler = RequestStop;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no restart: a disk prompt waiting for input is cancelled
    sigaction(SIGINT, &action, &previousInt);
    sigaction(SIGTERM, &action, &previousTerm);
}

StopOnSignals::~StopOnSignals()
{
    sigaction(SIGINT, &previousInt, nullptr);
    sigaction(SIGTERM, &previousTerm, nullptr);
}

bool StopOnSignals::StopRequested() { return stopRequested != 0; }

bool TerminalHost::AskForDisk(const std::string& text)
{
    if (answerYes_)
        return true;
    std::cerr << text << " [Enter = OK, c = Cancel] " << std::flush;
    if (!::isatty(STDIN_FILENO)) {
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
    : enabled_(enabled && ::isatty(STDERR_FILENO)), start_(std::chrono::steady_clock::now()), last_(start_)
{
}

void ProgressLine::Show(const std::string& file, int percent, std::int64_t bytes)
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
    std::string name = file.size() > 50 ? "..." + file.substr(file.size() - 47) : file;
    std::fprintf(stderr, "\r%3d %%  %8.1f MB/s  %-50s", percent, rate, name.c_str());
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
