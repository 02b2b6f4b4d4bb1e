#include "restore_paths.h"

#include <algorithm>
#include <cctype>

namespace arcovelo {

bool IsWindowsName(const std::string& name)
{
    const bool drive = name.size() >= 3 && name[1] == ':' && name[2] == '\\' &&
                       std::isalpha(static_cast<unsigned char>(name[0]));
    return drive || name.rfind("\\\\", 0) == 0;
}

bool IsPlainRelativePath(const std::string& relative)
{
    std::size_t start = 0;
    while (true) {
        const std::size_t end = std::min(relative.find('/', start), relative.size());
        const std::string part = relative.substr(start, end - start);
        if (part.empty() || part == "." || part == "..")
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
        d.safe = !windows && !storedName.empty() && storedName[0] == '/';
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
    d.path = folder + relative;
    d.safe = IsPlainRelativePath(relative);
    return d;
}

}  // namespace arcovelo
