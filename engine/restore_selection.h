// Which stored files a restore takes, and what its restore mode does with
// each. Pure rules, without an archive: the reader, the restore plan and the
// comparison with the disk all ask here, so they cannot disagree.
#pragma once

#include "backup.h"

#include <cstdint>
#include <string>
#include <vector>

namespace arcovelo {

// True when `pattern` takes `storedName`. A pattern without a separator is a
// file or folder name, or a mask (* any run of characters, ? one character),
// matched against each name `storedName` is made of: "*.txt", "cache". A
// pattern with a separator is matched against the whole name (* crossing
// separators too), or against a folder the name is stored below. Names
// compare as the platform compares them: bytes on POSIX; on Windows without
// case (letters A-Z, as names are stored) and with '/' read as '\'. A name
// written on Windows ("x:\...") is split at '\' on every platform.
bool PatternTakes(const std::string& pattern, const std::string& storedName);

// True when one of `exclusions` leaves out the file or folder `name` that a
// backup found at `path` (absolute, as stored): a pattern without a separator
// is matched against `name`, one with a separator against `path` and the
// folders it lies below, by the rules of PatternTakes.
bool LeavesOut(const std::vector<std::string>& exclusions, const std::string& name, const std::string& path);

// True when `selection` takes the file stored as `storedName`: with no
// include pattern and no name it takes every file; an exclusion always wins. The file-ID
// list is never a selected file.
bool IsSelected(const TRestoreSelection& selection, const std::string& storedName);

// True when `mode` lets a file with date stamp `stamp` be written over a
// destination that `exists` with date stamp `age` (stamps compared as signed
// 32-bit integers).
bool ModeAllowsRestore(TRestoreMode mode, bool exists, std::int32_t age, std::int32_t stamp);

}  // namespace arcovelo
