// The archive attribute for file systems that keep none. A file's flag is set
// until a backup clears it, and set again as soon as its content may have
// changed: the store keeps, per absolute path, the identity (device, inode,
// size, mtime, ctime) the file had when its flag was cleared, and any write
// changes the ctime, which no program can set back.
#pragma once

#include "platform.h"

#include <functional>
#include <string>

struct sqlite3;
struct sqlite3_stmt;

namespace arcovelo {

// One backup run's view of the SQLite store: look-ups in one read
// transaction, clearing in one write transaction.
class ArchiveFlagStore final : public ArchiveFlags {
public:
    // The store lives in `databasePath`; it is opened on first use.
    explicit ArchiveFlagStore(std::string databasePath);
    ~ArchiveFlagStore() override;
    ArchiveFlagStore(const ArchiveFlagStore&) = delete;
    ArchiveFlagStore& operator=(const ArchiveFlagStore&) = delete;

    // $ARCOVELO_STATE_DIR/archive-flags.sqlite, else under $XDG_STATE_HOME/arcovelo,
    // else under ~/.local/state/arcovelo.
    static std::string DefaultPath();

    std::vector<bool> AreSet(const std::vector<FileEntry>& files) override;
    bool Clear(const std::vector<FileEntry>& files) override;

private:
    bool Open();
    // The store is unavailable for the rest of the run; said once.
    void GiveUp(const std::string& why);
    bool Exec(const char* sql);
    // Calls `meet(i, row)` with the row the store holds for files[i], for
    // each file it knows, going through `files` in path `order`; false,
    // after GiveUp, when it cannot be read.
    using MeetRow = std::function<void(std::size_t index, const FileIdentity& row)>;
    bool ForEachStored(const std::vector<FileEntry>& files, const std::vector<std::size_t>& order,
                       const MeetRow& meet);
    bool ReadRange(sqlite3_stmt* q, const std::vector<FileEntry>& files, const std::vector<std::size_t>& order,
                   std::size_t first, std::size_t end, const MeetRow& meet);

    std::string path_;
    sqlite3* db_ = nullptr;
    bool unavailable_ = false;
};

}  // namespace arcovelo
