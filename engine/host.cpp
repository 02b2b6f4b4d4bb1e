#include "host.h"

#include <iostream>

namespace arcovelo {

bool HeadlessHost::AskForDisk(const std::string& text)
{
    std::cerr << text << " (no one to answer: cancelled)\n";
    return false;
}

void HeadlessHost::ShowError(const std::string& text) { std::cerr << "Error: " << text << "\n"; }

void HeadlessHost::ShowWarning(const std::string& text) { std::cerr << "Warning: " << text << "\n"; }

}  // namespace arcovelo
