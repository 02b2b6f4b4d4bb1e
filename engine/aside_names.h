// The hidden names under which a new archive volume is written beside its own
// name until it is whole: ".NAME.arcovelo-PID-XXXXXX.part", NAME the volume's
// file name, PID the writing process, XXXXXX six random letters or digits.
// Both platforms make and recognise exactly this shape, so a later run can
// remove what a killed one left and nothing else.
#pragma once

#include <string>

namespace arcovelo {

// What goes before the six random characters, for `target` (a file name,
// no folder) written by process `pid`.
std::string AsideNamePrefix(const std::string& target, unsigned long pid);
inline constexpr const char* kAsideNameSuffix = ".part";

// True when `name` (no folder) has exactly the aside shape; then its target
// and the process that made it.
bool ParseAsideName(const std::string& name, std::string& target, unsigned long& pid);

}  // namespace arcovelo
