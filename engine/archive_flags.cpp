#include "archive_flags.h"

#include <sqlite3.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <iostream>
#include <string_view>
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

// Indexes of `files` in the order of their paths' bytes, as the store
// orders its blobs.
std::vector<std::size_t> InPathOrder(const std::vector<FileEntry>& files)
{
    std::vector<std::size_t> order(files.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return files[a].path < files[b].path; });
    return order;
}

std::string_view FolderOf(std::string_view path)
{
    const auto slash = path.rfind('/');
    return slash == std::string_view::npos ? std::string_view() : path.substr(0, slash);
}

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
    if (sqlite3_open_v2(path_.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) {
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
    // Room for a large run's changed pages, so that they are not spilled
    // (with a sync of the journal each time) before the commit.
    // The rows are kept in the order of their paths, so a folder's range is
    // read in one pass, not an index and then a table (a store made before
    // keeps its layout and is read the same way, a little slower).
    // One connection is used by one thread at a time: no locks of SQLite's own.
    return Exec("PRAGMA journal_mode=DELETE; PRAGMA cache_size=-16384;"
                "CREATE TABLE IF NOT EXISTS flags(path BLOB PRIMARY KEY, device INTEGER, inode INTEGER,"
                " size INTEGER, mtime_ns INTEGER, ctime_ns INTEGER) WITHOUT ROWID;");
}

// Files are looked up in path order, one range of the store per folder,
// rather than one search of the store per file: a run asks about whole
// folders, whose rows lie next to each other in the store's index.
bool ArchiveFlagStore::ForEachStored(const std::vector<FileEntry>& files, const std::vector<std::size_t>& order,
                                     const MeetRow& meet)
{
    Statement q(db_, "SELECT path, device, inode, size, mtime_ns, ctime_ns FROM flags"
                     " WHERE path >= ?1 AND path <= ?2 ORDER BY path");
    if (!q) {
        GiveUp(sqlite3_errmsg(db_));
        return false;
    }
    for (std::size_t first = 0; first < order.size();) {
        const std::string_view folder = FolderOf(files[order[first]].path);
        std::size_t end = first + 1;
        while (end < order.size() && FolderOf(files[order[end]].path) == folder)
            ++end;
        if (!ReadRange(q.get(), files, order, first, end, meet))
            return false;
        first = end;
    }
    return true;
}

// The rows from the first to the last path of order[first, end), matched
// with those paths as both go by in order.
bool ArchiveFlagStore::ReadRange(sqlite3_stmt* q, const std::vector<FileEntry>& files,
                                 const std::vector<std::size_t>& order, std::size_t first, std::size_t end,
                                 const MeetRow& meet)
{
    const std::string& low = files[order[first]].path;
    const std::string& high = files[order[end - 1]].path;
    sqlite3_reset(q);
    sqlite3_bind_blob(q, 1, low.data(), static_cast<int>(low.size()), SQLITE_STATIC);
    sqlite3_bind_blob(q, 2, high.data(), static_cast<int>(high.size()), SQLITE_STATIC);
    std::size_t next = first;
    int step = SQLITE_ROW;
    while (next < end && (step = sqlite3_step(q)) == SQLITE_ROW) {
        const auto* bytes = static_cast<const char*>(sqlite3_column_blob(q, 0));
        const std::string_view path(bytes ? bytes : "", std::size_t(sqlite3_column_bytes(q, 0)));
        while (next < end && std::string_view(files[order[next]].path) < path)
            ++next;
        FileIdentity row;
        row.device = static_cast<std::uint64_t>(sqlite3_column_int64(q, 1));
        row.inode = static_cast<std::uint64_t>(sqlite3_column_int64(q, 2));
        row.size = sqlite3_column_int64(q, 3);
        row.mtimeNs = sqlite3_column_int64(q, 4);
        row.ctimeNs = sqlite3_column_int64(q, 5);
        for (; next < end && std::string_view(files[order[next]].path) == path; ++next)
            meet(order[next], row);
    }
    if (step != SQLITE_ROW && step != SQLITE_DONE) {
        GiveUp(sqlite3_errmsg(db_));
        return false;
    }
    return true;
}

std::vector<bool> ArchiveFlagStore::AreSet(const std::vector<FileEntry>& files)
{
    std::vector<bool> set(files.size(), true);
    if (files.empty() || !Open() || !Exec("BEGIN"))
        return set;
    const auto meet = [&](std::size_t i, const FileIdentity& row) { set[i] = !(row == files[i].identity); };
    if (!ForEachStored(files, InPathOrder(files), meet))
        return std::vector<bool>(files.size(), true);
    Exec("COMMIT");
    return set;
}

// Only rows that change are written, in path order, updated where they are:
// clearing the flags of files that did not change since the last run writes
// nothing, and the rows of a folder stay together in the store.
bool ArchiveFlagStore::Clear(const std::vector<FileEntry>& files)
{
    if (files.empty())
        return true;
    const std::vector<std::size_t> order = InPathOrder(files);
    std::vector<bool> kept(files.size(), false);  // the store holds this very identity
    const auto meet = [&](std::size_t i, const FileIdentity& row) { kept[i] = row == files[i].identity; };
    if (!Open() || !Exec("BEGIN IMMEDIATE") || !ForEachStored(files, order, meet))
        return false;
    Statement q(db_,
                "INSERT INTO flags(path, device, inode, size, mtime_ns, ctime_ns) VALUES(?1, ?2, ?3, ?4, ?5, ?6)"
                " ON CONFLICT(path) DO UPDATE SET device = excluded.device, inode = excluded.inode,"
                " size = excluded.size, mtime_ns = excluded.mtime_ns, ctime_ns = excluded.ctime_ns");
    if (!q) {
        GiveUp(sqlite3_errmsg(db_));
        return false;
    }
    for (const std::size_t i : order) {
        const FileEntry& file = files[i];
        if (kept[i])
            continue;
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
