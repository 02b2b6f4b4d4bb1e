// The archive attribute for file systems that keep none. A file's flag is set
// until a backup clears it, and set again as soon as its content may have
// changed: the store keeps, per absolute path, the identity (device, inode,
// size, mtime, ctime) the file had when its flag was cleared, and any write
// changes the ctime, which no program can set back.
#pragma once

#include "platform.h"

#include <mutex>
#include <string>

struct sqlite3;

namespace arcovelo {

class ArchiveFlagStore {
public:
    // The store lives in `databasePath`; it is opened on first use.
    explicit ArchiveFlagStore(std::string databasePath);
    ~ArchiveFlagStore();
    ArchiveFlagStore(const ArchiveFlagStore&) = delete;
    ArchiveFlagStore& operator=(const ArchiveFlagStore&) = delete;

    // $ARCOVELO_STATE_DIR/archive-flags.sqlite, else under $XDG_STATE_HOME/arcovelo,
    // else under ~/.local/state/arcovelo.
    static std::string DefaultPath();

    // True unless the store holds exactly `now` for `path`. When the store
    // cannot be opened every file counts as flagged.
    bool IsSet(const std::string& path, const FileIdentity& now);
    // Records `identity` for `path`. Does nothing when the store cannot be opened.
    void Clear(const std::string& path, const FileIdentity& identity);

private:
    bool Open();
    void ReportUnavailable(const std::string& why);

    std::string path_;
    sqlite3* db_ = nullptr;
    bool unavailable_ = false;
    std::mutex mutex_;
};

}  // namespace arcovelo
