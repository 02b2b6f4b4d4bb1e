#include "restore_paths.h"

#include "platform.h"

#include <algorithm>
#include <cctype>

namespace arcovelo {

bool IsWindowsName(const std::string& name)
{
    const bool drive = name.size() >= 3 && name[1] == ':' && name[2] == '\\' &&
                       std::isalpha(static_cast<unsigned char>(name[0]));
    return drive || name.rfind("\\\\", 0) == 0;
}

namespace {

#ifdef _WIN32
// Names Windows gives to devices in every folder ("nul", "com1.txt", ...).
bool IsDeviceName(const std::string& part)
{
    std::string base = part.substr(0, part.find('.'));
    while (!base.empty() && base.back() == ' ')
        base.pop_back();
    for (char& c : base)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    static const char* const devices[] = {"con", "prn", "aux", "nul", "conin$", "conout$"};
    for (const char* device : devices)
        if (base == device)
            return true;
    if (base.rfind("com", 0) != 0 && base.rfind("lpt", 0) != 0)
        return false;
    const std::string number = base.substr(3);
    // A digit, or one of the superscripts one to three, which Windows takes
    // for the same devices.
    return (number.size() == 1 && std::isdigit(static_cast<unsigned char>(number[0]))) || number == "\u00b9" ||
           number == "\u00b2" || number == "\u00b3";
}

// The length of the UTF-8 sequence that starts with `lead`, 0 when no
// sequence starts so.
std::size_t Utf8Length(unsigned char lead)
{
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF)
        return 2;
    if (lead >= 0xE0 && lead <= 0xEF)
        return 3;
    return lead >= 0xF0 && lead <= 0xF4 ? 4 : 0;
}

// True when `text` is well-formed UTF-8 (no overlong forms, no surrogates),
// the only names that reach Windows as themselves.
bool IsUtf8(const std::string& text)
{
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t length = Utf8Length(lead);
        if (length == 0 || i + length > text.size())
            return false;
        unsigned code = length == 1 ? lead : lead & (0x7F >> length);
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80)
                return false;
            code = code << 6 | (next & 0x3F);
        }
        const unsigned smallest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (code < smallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return false;
        i += length;
    }
    return true;
}
#endif

// One folder or file name that stays where it is put: on Windows also no ':'
// (a drive or a stream), no device name and no trailing dot or blank (Win32
// would drop it and name another file).
bool IsPlainPart(const std::string& part)
{
    if (part.empty() || part == "." || part == "..")
        return false;
#ifdef _WIN32
    if (part.find(':') != std::string::npos || part.back() == '.' || part.back() == ' ' ||
        IsDeviceName(part) || !IsUtf8(part))
        return false;
#endif
    return true;
}

// An absolute path of this system, to which a stored name may go back.
bool IsNativeAbsolute(const std::string& name)
{
#ifdef _WIN32
    return IsWindowsName(name) && IsUtf8(name);
#else
    return !IsWindowsName(name) && !name.empty() && name[0] == '/';
#endif
}

}  // namespace

bool IsPlainRelativePath(const std::string& relative)
{
    std::size_t start = 0;
    while (true) {
        const auto separator = std::find_if(relative.begin() + std::ptrdiff_t(start), relative.end(), IsPathSeparator);
        const std::size_t end = std::size_t(separator - relative.begin());
        if (!IsPlainPart(relative.substr(start, end - start)))
            return false;
        if (end == relative.size())
            return true;
        start = end + 1;
    }
}

Destination DestinationFor(const std::string& folder, const std::string& storedName, bool fullPath)
{
    Destination d;
    const bool windows = IsWindowsName(storedName);
    if (folder.empty()) {
        // Back to the stored path: only an absolute path of this system will do.
        d.path = storedName;
        d.safe = IsNativeAbsolute(storedName);
        return d;
    }
    std::string relative;
    if (!fullPath) {
        const auto cut = storedName.find_last_of(windows ? "\\:" : "/");
        relative = cut == std::string::npos ? storedName : storedName.substr(cut + 1);
    } else if (windows) {
        // Drop the drive "x:\" or the "\\" of a server name; folders become '/'.
        relative = storedName.substr(storedName[1] == ':' ? 3 : 2);
        std::replace(relative.begin(), relative.end(), '\\', '/');
    } else {
        relative = storedName.empty() || storedName[0] != '/' ? storedName : storedName.substr(1);
    }
    d.below = relative;
    d.safe = IsPlainRelativePath(relative);
    std::replace(relative.begin(), relative.end(), '/', kPathSeparator);
    d.path = folder + relative;
    return d;
}

}  // namespace arcovelo
