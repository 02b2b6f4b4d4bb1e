// The .bck layout: a flat sequence of little-endian 32-bit fields and
// length-prefixed strings. Shared by the writer and the reader.
#pragma once

#include "codec.h"

#include <cstdint>
#include <string>

namespace arcovelo::format {

// "EC2" and a zero byte: the start of every block group.
inline constexpr std::uint8_t kBlockTag[4] = {0x45, 0x43, 0x32, 0x00};
// Name of the record holding the file-ID list.
inline constexpr const char* kFileListName = "FILE:LIST";
// A volume-change record is this marker plus three digits.
inline constexpr const char* kVolumeMarker = "NEXT:DISK";
inline constexpr std::int32_t kVolumeRecordLength = 12;
// The archive name that selects the caller's stream instead of a file.
inline constexpr const char* kStreamName = ":STREAM";
// A chunk is begun only this far below MaxSize: one full chunk plus a margin,
// so the chunk, the group end and a volume-change record still fit.
inline constexpr std::int64_t kVolumeReserve = static_cast<std::int64_t>(kChunkSize) + 100;
// The smallest volume that can take a chunk: a new volume begins with a block
// tag, and a chunk is begun only below MaxSize - kVolumeReserve. Smaller
// volumes hold no data at all, so the command line refuses them.
inline constexpr std::int64_t kMinVolumeSize = kVolumeReserve + 5;
// What a file record needs beside its chunks: name length, name (added by the
// caller), date stamp, block tag, group end, and a volume-change record after it.
inline constexpr std::int64_t kRecordReserve = 4 + 4 + 4 + 4 + 4 + kVolumeRecordLength;
// Three digits name a volume: .002 to .999.
inline constexpr unsigned kLastVolume = 999;
// Largest name length a reader accepts: no file system has longer paths.
inline constexpr std::int32_t kMaxNameLength = 64 * 1024;
// Largest title a reader accepts.
inline constexpr std::int32_t kMaxTitleLength = 1024 * 1024;
// Largest file-ID list text GetArchiveInfo keeps in memory, and most lines it
// splits it into (a million files make about 100 MB of list): together they
// keep its memory well below 1 GiB.
inline constexpr std::int64_t kMaxFileListBytes = 128LL * 1024 * 1024;
inline constexpr std::int64_t kMaxFileListLines = 4LL * 1024 * 1024;
// The header's 32-bit fields hold at most this.
inline constexpr std::int64_t kMaxHeaderValue = 0x7FFFFFFF;

// The three digits of a volume number: the last three characters of "00"
// followed by the number.
std::string VolumeDigits(unsigned volume);

// `current` with the extension of its last path component replaced by "."
// and `digits`; a name without extension gets them appended.
std::string NextVolumeName(const std::string& current, const std::string& digits);

// True when `name` begins like a volume-change record.
bool IsVolumeRecord(const std::string& name);
// The three digits of a well-formed volume-change record; false for any
// other shape (wrong length, not digits), which no writer produces.
bool VolumeRecordDigits(const std::string& name, std::string& digits);

// One line of the file-ID list: name, TAB, date stamp in decimal, "=", size.
struct ListedFile {
    std::string name;
    std::int32_t stamp = 0;
    std::int64_t size = 0;
};
// Splits a line of the file-ID list at its last TAB (a name may hold TABs;
// the stamp and the size never do). False for a line of any other shape.
bool ParseListedFile(const std::string& line, ListedFile& file);

}  // namespace arcovelo::format
