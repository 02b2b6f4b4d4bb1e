// What the file system itself costs for the small-file runs, with none of the
// program's own work: the floor under which no backup, incremental or durable
// restore of the same tree can go on this machine, whatever it does.
//
//   stat walk:  every entry of TREE looked at once (fstatat), THREADS
//               threads taking top-level folders in turn (what an incremental
//               with nothing changed must at least do);
//   read walk:  the same, and every file opened, read and closed (what a
//               backup must at least do before it compresses anything);
//   durable creation: COUNT files of 200-1600 bytes made in folders of 1000
//               under SCRATCH as a durable restore makes them: each created
//               without a name (O_TMPFILE), written and given its time, every
//               BATCH files made durable with one syncfs, then linked to its
//               name. Three threads: one creates, one syncs, one links.
//
// Usage: file_system_floor TREE SCRATCH [COUNT] [THREADS] [BATCH]
// Run the walks on a tree whose metadata is cached (they are run twice, the
// second run counts) and SCRATCH on the file system a restore would write to,
// freshly made, as bench/small_files_bench.py does with
// ARCOVELO_BENCH_FRESH_FS=1.
#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// Looks at every entry below the open folder `fd` (closed on return); with
// `read`, reads every regular file whole. Returns the bytes read.
long long Walk(int fd, bool read)
{
    DIR* dir = ::fdopendir(fd);
    if (dir == nullptr) {
        ::close(fd);
        return 0;
    }
    long long bytes = 0;
    static thread_local std::vector<char> buffer(1 << 16);
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.')
            continue;
        struct stat st {};
        if (::fstatat(::dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        if (S_ISDIR(st.st_mode)) {
            bytes += Walk(::openat(::dirfd(dir), entry->d_name, O_RDONLY | O_DIRECTORY), read);
        } else if (read && S_ISREG(st.st_mode)) {
            const int file = ::openat(::dirfd(dir), entry->d_name, O_RDONLY);
            for (ssize_t got; file >= 0 && (got = ::read(file, buffer.data(), buffer.size())) > 0;)
                bytes += got;
            if (file >= 0)
                ::close(file);
        }
    }
    ::closedir(dir);
    return bytes;
}

std::vector<std::string> TopFolders(const std::string& tree)
{
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(tree.c_str())) {
        while (const dirent* entry = ::readdir(dir))
            if (entry->d_name[0] != '.')
                names.push_back(tree + "/" + entry->d_name);
        ::closedir(dir);
    }
    return names;
}

double TimeWalk(const std::string& tree, int threads, bool read)
{
    const std::vector<std::string> folders = TopFolders(tree);
    std::atomic<std::size_t> next{0};
    const auto start = Clock::now();
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t)
        workers.emplace_back([&] {
            for (std::size_t i; (i = next++) < folders.size();)
                Walk(::open(folders[i].c_str(), O_RDONLY | O_DIRECTORY), read);
        });
    for (auto& w : workers)
        w.join();
    return SecondsSince(start);
}

// Gives the unnamed file `fd` the name `name` in `folder`: by its descriptor
// where the process may (root), else through /proc as any user may.
void LinkUnnamed(int fd, int folder, const std::string& name)
{
    if (::linkat(fd, "", folder, name.c_str(), AT_EMPTY_PATH) == 0)
        return;
    const std::string proc = "/proc/self/fd/" + std::to_string(fd);
    if (::linkat(AT_FDCWD, proc.c_str(), folder, name.c_str(), AT_SYMLINK_FOLLOW) != 0)
        std::perror("linkat");
}

// Files handed from one stage to the next: `made` of them created, `synced`
// of them durable.
struct Pipeline {
    std::mutex mutex;
    std::condition_variable changed;
    int made = 0;
    int synced = 0;
    int linked = 0;
};

double TimeDurableCreation(const std::string& scratch, int count, int batch)
{
    std::vector<int> folders;
    for (int i = 0; i < count; i += 1000) {
        const std::string name = scratch + "/floor-" + std::to_string(i / 1000);
        ::mkdir(name.c_str(), 0777);
        folders.push_back(::open(name.c_str(), O_PATH | O_DIRECTORY));
    }
    std::vector<int> files(std::size_t(count), -1);
    Pipeline p;
    const auto start = Clock::now();
    std::thread syncer([&] {
        for (int done = 0; done < count;) {
            std::unique_lock lock(p.mutex);
            p.changed.wait(lock, [&] { return p.made - done >= batch || p.made == count; });
            const int upto = p.made;
            lock.unlock();
            ::syncfs(files[std::size_t(done)]);
            lock.lock();
            p.synced = done = upto;
            p.changed.notify_all();
        }
    });
    std::thread linker([&] {
        for (int done = 0; done < count;) {
            std::unique_lock lock(p.mutex);
            p.changed.wait(lock, [&] { return p.synced > done; });
            const int upto = p.synced;
            lock.unlock();
            for (int i = done; i < upto; ++i) {
                const std::string name = "f" + std::to_string(i);
                LinkUnnamed(files[std::size_t(i)], folders[std::size_t(i / 1000)], name);
                ::close(files[std::size_t(i)]);
            }
            lock.lock();
            p.linked = done = upto;
            p.changed.notify_all();
        }
    });
    const std::vector<char> data(1600, 'x');
    const timespec times[2] = {{0, UTIME_OMIT}, {1000000000, 0}};
    const int mostOpen = 4 * batch;  // descriptors waiting at once (main checks the limit)
    for (int i = 0; i < count; ++i) {
        {
            std::unique_lock lock(p.mutex);
            p.changed.wait(lock, [&] { return i - p.linked < mostOpen; });
        }
        const int fd = ::openat(folders[std::size_t(i / 1000)], ".", O_TMPFILE | O_RDWR, 0644);
        if (fd < 0) {
            std::perror("O_TMPFILE");
            std::exit(1);
        }
        if (::write(fd, data.data(), std::size_t(200 + (i * 7919) % 1400)) < 0 || ::futimens(fd, times) != 0)
            std::perror("write");
        files[std::size_t(i)] = fd;
        if ((i + 1) % batch == 0 || i + 1 == count) {
            std::lock_guard lock(p.mutex);
            p.made = i + 1;
            p.changed.notify_all();
        }
    }
    syncer.join();
    linker.join();
    const double seconds = SecondsSince(start);
    for (int fd : folders)
        ::close(fd);
    return seconds;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: file_system_floor TREE SCRATCH [COUNT] [THREADS] [BATCH]\n");
        return 2;
    }
    const std::string tree = argv[1], scratch = argv[2];
    const int count = argc > 3 ? std::atoi(argv[3]) : 100000;
    const int threads = argc > 4 ? std::atoi(argv[4]) : 2;
    int batch = argc > 5 ? std::atoi(argv[5]) : 1000;
    // Four batches' descriptors may be open at once.
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
        ::getrlimit(RLIMIT_NOFILE, &limit);
        if (limit.rlim_cur != RLIM_INFINITY && rlim_t(4 * batch + 64) > limit.rlim_cur)
            batch = std::max(1, int((limit.rlim_cur - 64) / 4));
    }
    for (bool read : {false, true}) {
        TimeWalk(tree, threads, read);  // caches the tree's metadata and data
        std::printf("%-40s %8.3f s\n", read ? "read walk (stat, open, read, close)" : "stat walk",
                    TimeWalk(tree, threads, read));
    }
    std::printf("%-40s %8.3f s\n",
                ("durable creation of " + std::to_string(count) + " files, " + std::to_string(batch) + " a sync").c_str(),
                TimeDurableCreation(scratch, count, batch));
    return 0;
}
