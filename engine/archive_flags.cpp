#include "archive_flags.h"

#include <sqlite3.h>

#include <cstdlib>
#include <iostream>
#include <sys/stat.h>

namespace arcovelo {
namespace {

// Creates `folder` and its missing parents; returns false when it cannot.
bool MakeFolders(const std::string& folder)
{
    for (std::size_t i = 1; i <= folder.size(); ++i) {
        if (i != folder.size() && folder[i] != '/')
            continue;
        const std::string part = folder.substr(0, i);
        if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
    }
    struct stat st {};
    return stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string StateFolder()
{
    if (const char* dir = std::getenv("ARCOVELO_STATE_DIR"); dir && *dir)
        return dir;
    if (const char* xdg = std::getenv("XDG_STATE_HOME"); xdg && *xdg)
        return std::string(xdg) + "/arcovelo";
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : ".") + "/.local/state/arcovelo";
}

// One prepared statement, finalised on every path out.
class Statement {
public:
    Statement(sqlite3* db, const char* sql) { sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr); }
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    explicit operator bool() const { return stmt_ != nullptr; }
    sqlite3_stmt* get() const { return stmt_; }

private:
    sqlite3_stmt* stmt_ = nullptr;
};

}  // namespace

ArchiveFlagStore::ArchiveFlagStore(std::string databasePath) : path_(std::move(databasePath)) {}

ArchiveFlagStore::~ArchiveFlagStore()
{
    if (db_ != nullptr)
        sqlite3_close(db_);
}

std::string ArchiveFlagStore::DefaultPath() { return StateFolder() + "/archive-flags.sqlite"; }

void ArchiveFlagStore::ReportUnavailable(const std::string& why)
{
    unavailable_ = true;
    std::cerr << "arcovelo: archive flag store " << path_ << " unavailable (" << why
              << "): every file counts as changed and no flag is cleared\n";
}

bool ArchiveFlagStore::Open()
{
    if (db_ != nullptr)
        return true;
    if (unavailable_)
        return false;
    const auto slash = path_.rfind('/');
    if (slash != std::string::npos && slash > 0 && !MakeFolders(path_.substr(0, slash))) {
        ReportUnavailable("cannot create its folder");
        return false;
    }
    if (sqlite3_open(path_.c_str(), &db_) != SQLITE_OK) {
        ReportUnavailable(db_ ? sqlite3_errmsg(db_) : "out of memory");
        sqlite3_close(db_);
        db_ = nullptr;
        return false;
    }
    sqlite3_busy_timeout(db_, 5000);
    // WAL with NORMAL sync: one backup clears thousands of flags, and a lost
    // last transaction only makes the next incremental backup take more.
    const char* setup =
        "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;"
        "CREATE TABLE IF NOT EXISTS flags(path BLOB PRIMARY KEY, device INTEGER, inode INTEGER,"
        " size INTEGER, mtime_ns INTEGER, ctime_ns INTEGER);";
    if (sqlite3_exec(db_, setup, nullptr, nullptr, nullptr) != SQLITE_OK) {
        ReportUnavailable(sqlite3_errmsg(db_));
        sqlite3_close(db_);
        db_ = nullptr;
        return false;
    }
    return true;
}

bool ArchiveFlagStore::IsSet(const std::string& path, const FileIdentity& now)
{
    std::lock_guard lock(mutex_);
    if (!Open())
        return true;
    Statement q(db_, "SELECT device, inode, size, mtime_ns, ctime_ns FROM flags WHERE path = ?1");
    if (!q)
        return true;
    sqlite3_bind_blob(q.get(), 1, path.data(), static_cast<int>(path.size()), SQLITE_TRANSIENT);
    if (sqlite3_step(q.get()) != SQLITE_ROW)
        return true;
    FileIdentity stored;
    stored.device = static_cast<std::uint64_t>(sqlite3_column_int64(q.get(), 0));
    stored.inode = static_cast<std::uint64_t>(sqlite3_column_int64(q.get(), 1));
    stored.size = sqlite3_column_int64(q.get(), 2);
    stored.mtimeNs = sqlite3_column_int64(q.get(), 3);
    stored.ctimeNs = sqlite3_column_int64(q.get(), 4);
    return !(stored == now);
}

void ArchiveFlagStore::Clear(const std::string& path, const FileIdentity& identity)
{
    std::lock_guard lock(mutex_);
    if (!Open())
        return;
    Statement q(db_,
                "INSERT OR REPLACE INTO flags(path, device, inode, size, mtime_ns, ctime_ns)"
                " VALUES(?1, ?2, ?3, ?4, ?5, ?6)");
    if (!q)
        return;
    sqlite3_bind_blob(q.get(), 1, path.data(), static_cast<int>(path.size()), SQLITE_TRANSIENT);
    sqlite3_bind_int64(q.get(), 2, static_cast<sqlite3_int64>(identity.device));
    sqlite3_bind_int64(q.get(), 3, static_cast<sqlite3_int64>(identity.inode));
    sqlite3_bind_int64(q.get(), 4, identity.size);
    sqlite3_bind_int64(q.get(), 5, identity.mtimeNs);
    sqlite3_bind_int64(q.get(), 6, identity.ctimeNs);
    if (sqlite3_step(q.get()) != SQLITE_DONE)
        std::cerr << "arcovelo: cannot clear the archive flag of " << path << ": "
                  << sqlite3_errmsg(db_) << "\n";
}

}  // namespace arcovelo
