// Where Restore puts a stored name. Stored names are absolute paths as the
// writer found them: POSIX paths, or names written on Windows ("x:\..." or
// "\\server\..."). Nothing derived from an archive may land outside the
// destination folder the user chose.
#pragma once

#include <string>

namespace arcovelo {

struct Destination {
    std::string path;   // where the file goes, with this system's separators
    // The part of `path` below the destination folder, '/'-separated; empty
    // when restoring to the stored path.
    std::string below;
    bool safe = true;   // false: the name cannot be placed where asked
};

// True for names written on Windows: "x:\..." or "\\...".
bool IsWindowsName(const std::string& name);

// The destination of `storedName`. `folder` is empty (the stored path) or ends
// in a separator. With `fullPath` the stored folders are kept below `folder` (the root
// or drive dropped); without, only the file-name part is.
Destination DestinationFor(const std::string& folder, const std::string& storedName, bool fullPath);

// True when `relative` is a plain relative path (split at this system's
// separators): no empty, "." or ".." component, not absolute; on Windows no
// drive, stream or device name either.
bool IsPlainRelativePath(const std::string& relative);

}  // namespace arcovelo
