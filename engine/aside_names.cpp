#include "aside_names.h"

#include <cctype>
#include <cstring>

namespace arcovelo {
namespace {

const std::string kTag = ".arcovelo-";
constexpr std::size_t kRandomLength = 6;
constexpr std::size_t kMostPidDigits = 10;

bool AllOf(const std::string& text, std::size_t from, std::size_t to, int (*test)(int))
{
    for (std::size_t i = from; i < to; ++i)
        if (!test(static_cast<unsigned char>(text[i])))
            return false;
    return true;
}

}  // namespace

std::string AsideNamePrefix(const std::string& target, unsigned long pid)
{
    return "." + target + kTag + std::to_string(pid) + "-";
}

bool ParseAsideName(const std::string& name, std::string& target, unsigned long& pid)
{
    const std::size_t suffix = std::strlen(kAsideNameSuffix);
    if (name.size() <= suffix || name[0] != '.' || name.compare(name.size() - suffix, suffix, kAsideNameSuffix) != 0)
        return false;
    const std::size_t randomEnd = name.size() - suffix;
    if (randomEnd < kRandomLength + 1)
        return false;
    const std::size_t randomStart = randomEnd - kRandomLength;
    if (!AllOf(name, randomStart, randomEnd, ::isalnum) || name[randomStart - 1] != '-')
        return false;
    const std::size_t tag = name.rfind(kTag, randomStart - 1);
    if (tag == std::string::npos || tag < 2)
        return false;
    const std::size_t pidStart = tag + kTag.size();
    const std::size_t pidEnd = randomStart - 1;
    if (pidEnd <= pidStart || pidEnd - pidStart > kMostPidDigits || !AllOf(name, pidStart, pidEnd, ::isdigit))
        return false;
    target = name.substr(1, tag - 1);
    pid = std::stoul(name.substr(pidStart, pidEnd - pidStart));
    return pid != 0;
}

}  // namespace arcovelo
