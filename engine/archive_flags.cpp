#include "archive_flags.h"

#include <sqlite3.h>

#include <cerrno>
#include <cstdlib>
#include <iostream>
#include <sys/stat.h>
#include <unistd.h>

namespace arcovelo {
namespace {

// How long one statement waits for another process that holds the store.
// Look-ups and clearing are one transaction each, so a run waits at most once.
constexpr int kBusyTimeoutMs = 2000;

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
    void BindPath(const std::string& path)
    {
        sqlite3_reset(stmt_);
        sqlite3_bind_blob(stmt_, 1, path.data(), static_cast<int>(path.size()), SQLITE_STATIC);
    }

private:
    sqlite3_stmt* stmt_ = nullptr;
};

}  // namespace

ArchiveFlagStore::ArchiveFlagStore(std::string databasePath) : path_(std::move(databasePath)) {}

ArchiveFlagStore::~ArchiveFlagStore()
{
    if (db_ != nullptr)
        sqlite3_close_v2(db_);
}

std::string ArchiveFlagStore::DefaultPath() { return StateFolder() + "/archive-flags.sqlite"; }

void ArchiveFlagStore::GiveUp(const std::string& why)
{
    if (unavailable_)
        return;
    unavailable_ = true;
    std::cerr << "arcovelo: archive flag store " << path_ << " unavailable (" << why
              << "): every file counts as changed and no flag is cleared\n";
    if (db_ != nullptr) {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        sqlite3_close_v2(db_);
        db_ = nullptr;
    }
}

bool ArchiveFlagStore::Exec(const char* sql)
{
    if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK)
        return true;
    GiveUp(sqlite3_errmsg(db_));
    return false;
}

bool ArchiveFlagStore::Open()
{
    if (db_ != nullptr)
        return true;
    if (unavailable_)
        return false;
    const auto slash = path_.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path_.substr(0, slash);
    if (!MakeFolders(folder)) {
        GiveUp("cannot create its folder");
        return false;
    }
    // A store we may not write is left alone: opening it would leave files
    // (a journal, a shared-memory index) that later runs could not use.
    const bool exists = ::access(path_.c_str(), F_OK) == 0;
    if ((exists && ::access(path_.c_str(), W_OK) != 0) || ::access(folder.c_str(), W_OK) != 0) {
        GiveUp("read-only");
        return false;
    }
    if (sqlite3_open_v2(path_.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
        const std::string why = db_ ? sqlite3_errmsg(db_) : "out of memory";
        sqlite3_close_v2(db_);
        db_ = nullptr;
        GiveUp(why);
        return false;
    }
    sqlite3_busy_timeout(db_, kBusyTimeoutMs);
    // A rollback journal, which exists only while a run clears its flags (an
    // older store in WAL mode is turned back). One transaction per run keeps
    // the cost of full syncs small.
    return Exec("PRAGMA journal_mode=DELETE;"
                "CREATE TABLE IF NOT EXISTS flags(path BLOB PRIMARY KEY, device INTEGER, inode INTEGER,"
                " size INTEGER, mtime_ns INTEGER, ctime_ns INTEGER);");
}

std::vector<bool> ArchiveFlagStore::AreSet(const std::vector<FileEntry>& files)
{
    std::vector<bool> set(files.size(), true);
    if (files.empty() || !Open() || !Exec("BEGIN"))
        return set;
    Statement q(db_, "SELECT device, inode, size, mtime_ns, ctime_ns FROM flags WHERE path = ?1");
    if (!q) {
        GiveUp(sqlite3_errmsg(db_));
        return std::vector<bool>(files.size(), true);
    }
    for (std::size_t i = 0; i < files.size(); ++i) {
        q.BindPath(files[i].path);
        const int step = sqlite3_step(q.get());
        if (step == SQLITE_DONE)
            continue;
        if (step != SQLITE_ROW) {
            GiveUp(sqlite3_errmsg(db_));
            return std::vector<bool>(files.size(), true);
        }
        FileIdentity stored;
        stored.device = static_cast<std::uint64_t>(sqlite3_column_int64(q.get(), 0));
        stored.inode = static_cast<std::uint64_t>(sqlite3_column_int64(q.get(), 1));
        stored.size = sqlite3_column_int64(q.get(), 2);
        stored.mtimeNs = sqlite3_column_int64(q.get(), 3);
        stored.ctimeNs = sqlite3_column_int64(q.get(), 4);
        set[i] = !(stored == files[i].identity);
    }
    sqlite3_reset(q.get());
    Exec("COMMIT");
    return set;
}

bool ArchiveFlagStore::Clear(const std::vector<FileEntry>& files)
{
    if (files.empty())
        return true;
    if (!Open() || !Exec("BEGIN IMMEDIATE"))
        return false;
    Statement q(db_,
                "INSERT OR REPLACE INTO flags(path, device, inode, size, mtime_ns, ctime_ns)"
                " VALUES(?1, ?2, ?3, ?4, ?5, ?6)");
    if (!q) {
        GiveUp(sqlite3_errmsg(db_));
        return false;
    }
    for (const auto& file : files) {
        q.BindPath(file.path);
        sqlite3_bind_int64(q.get(), 2, static_cast<sqlite3_int64>(file.identity.device));
        sqlite3_bind_int64(q.get(), 3, static_cast<sqlite3_int64>(file.identity.inode));
        sqlite3_bind_int64(q.get(), 4, file.identity.size);
        sqlite3_bind_int64(q.get(), 5, file.identity.mtimeNs);
        sqlite3_bind_int64(q.get(), 6, file.identity.ctimeNs);
        if (sqlite3_step(q.get()) != SQLITE_DONE) {
            GiveUp(sqlite3_errmsg(db_));
            return false;
        }
    }
    sqlite3_reset(q.get());
    return Exec("COMMIT");
}

}  // namespace arcovelo
