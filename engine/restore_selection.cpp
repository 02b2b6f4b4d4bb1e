#include "restore_selection.h"

#include "format.h"
#include "restore_paths.h"

#include <algorithm>

namespace arcovelo {
namespace {

// Bytes a UTF-8 sequence starting with `lead` claims; 1 for anything else.
std::size_t SequenceLength(unsigned char lead)
{
    if (lead >= 0xF0 && lead <= 0xF4)
        return 4;
    if (lead >= 0xE0)
        return lead <= 0xEF ? 3 : 1;
    if (lead >= 0xC2)
        return 2;
    return 1;
}

// The length of the character at `at` of `text`: a whole UTF-8 sequence when
// one is there, else one byte (names need not be UTF-8).
std::size_t CharacterAt(const std::string& text, std::size_t at)
{
    const std::size_t length = SequenceLength(static_cast<unsigned char>(text[at]));
    if (length == 1 || at + length > text.size())
        return 1;
    for (std::size_t i = 1; i < length; ++i)
        if ((static_cast<unsigned char>(text[at + i]) & 0xC0) != 0x80)
            return 1;
    return length;
}

// True when `mask` (* and ?) matches the whole of `name`. Iterative, with one
// back-track point: linear in practice, whatever a hostile name holds.
bool MaskMatches(const std::string& mask, const std::string& name)
{
    std::size_t m = 0;
    std::size_t n = 0;
    std::size_t starMask = std::string::npos;
    std::size_t starName = 0;
    while (n < name.size()) {
        if (m < mask.size() && mask[m] == '*') {
            starMask = m++;
            starName = n;
        } else if (m < mask.size() && mask[m] == '?') {
            ++m;
            n += CharacterAt(name, n);
        } else if (m < mask.size() && mask[m] == name[n]) {
            ++m;
            ++n;
        } else if (starMask != std::string::npos) {
            m = starMask + 1;
            starName += CharacterAt(name, starName);
            n = starName;
        } else {
            return false;
        }
    }
    while (m < mask.size() && mask[m] == '*')
        ++m;
    return m == mask.size();
}

// A name or pattern as the platform compares it.
std::string Comparable(std::string text)
{
#ifdef _WIN32
    std::replace(text.begin(), text.end(), '/', '\\');
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
#endif
    return text;
}

char SeparatorOf(const std::string& storedName)
{
#ifdef _WIN32
    (void)storedName;
    return '\\';
#else
    return IsWindowsName(storedName) ? '\\' : '/';
#endif
}

// True when `mask` matches one of the file and folder names `name` is made of.
bool AnyPartMatches(const std::string& mask, const std::string& name, char separator)
{
    std::size_t start = 0;
    while (true) {
        const std::size_t end = name.find(separator, start);
        if (MaskMatches(mask, name.substr(start, end == std::string::npos ? std::string::npos : end - start)))
            return true;
        if (end == std::string::npos)
            return false;
        start = end + 1;
    }
}

}  // namespace

bool PatternTakes(const std::string& pattern, const std::string& storedName)
{
    const std::string name = Comparable(storedName);
    const char separator = SeparatorOf(name);
    std::string mask = Comparable(pattern);
    // "docs/" names the folder "docs"; a lone "/" stays the root.
    while (mask.size() > 1 && mask.back() == separator)
        mask.pop_back();
    if (mask.empty())
        return false;
    if (mask.find(separator) == std::string::npos)
        return AnyPartMatches(mask, name, separator);
    if (MaskMatches(mask, name))
        return true;
    // A folder the name is stored below: each prefix that ends before a separator.
    for (std::size_t at = name.find(separator); at != std::string::npos; at = name.find(separator, at + 1)) {
        const std::string folder = at == 0 ? std::string(1, separator) : name.substr(0, at);
        if (MaskMatches(mask, folder))
            return true;
    }
    return false;
}

bool LeavesOut(const std::vector<std::string>& exclusions, const std::string& name, const std::string& path)
{
    return std::any_of(exclusions.begin(), exclusions.end(), [&](const std::string& pattern) {
        const std::string mask = Comparable(pattern);
        const bool withSeparator = mask.find(SeparatorOf(Comparable(path))) != std::string::npos;
        return PatternTakes(pattern, withSeparator ? path : name);
    });
}

bool IsSelected(const TRestoreSelection& selection, const std::string& storedName)
{
    if (storedName == format::kFileListName)
        return false;
    const auto takes = [&storedName](const std::string& pattern) { return PatternTakes(pattern, storedName); };
    const bool limited = !selection.include.empty() || !selection.names.empty();
    if (limited && selection.names.count(storedName) == 0 &&
        std::none_of(selection.include.begin(), selection.include.end(), takes))
        return false;
    return std::none_of(selection.exclude.begin(), selection.exclude.end(), takes);
}

bool ModeAllowsRestore(TRestoreMode mode, bool exists, std::int32_t age, std::int32_t stamp)
{
    switch (mode) {
    case rmAll: return true;
    case rmNoOverwrite: return !exists;
    case rmNewer: return !exists || age < stamp;
    case rmExisting: return exists;
    case rmExistingNewer: return exists && age < stamp;
    }
    return false;
}

}  // namespace arcovelo
