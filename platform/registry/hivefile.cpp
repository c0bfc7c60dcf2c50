#include "hivefile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <mutex>
#include <vector>

#include "regfile.h"
#include "registry.h"

namespace registry {

namespace {

// A hive larger than this is neither read nor written.
std::atomic<size_t> hiveSizeLimit{size_t(64) << 20};

// Lines of one warning report; the rest are counted.
constexpr size_t kMaxWarnedLines = 10;

struct Warnings {
    std::mutex lock;
    std::function<void(const std::string&)> handler;
    // The file version last warned about, per hive, so that each read of an unchanged file
    // does not repeat the warning.
    std::string warned[2];
};

Warnings& TheWarnings()
{
    static Warnings warnings;
    return warnings;
}

void Warn(const std::string& text)
{
    Warnings& warnings = TheWarnings();
    std::function<void(const std::string&)> handler;
    {
        std::lock_guard<std::mutex> hold(warnings.lock);
        handler = warnings.handler;
    }
    if (handler) handler(text);
    else std::fprintf(stderr, "%s\n", text.c_str());
}

// Warns once per version of the file (device, inode, size and modification time).
void WarnOncePerFile(Hive hive, const struct stat& info, const std::string& text)
{
    std::string version = std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino) + ":" +
                          std::to_string(info.st_size) + ":" + std::to_string(info.st_mtim.tv_sec) + "." +
                          std::to_string(info.st_mtim.tv_nsec);
    {
        Warnings& warnings = TheWarnings();
        std::lock_guard<std::mutex> hold(warnings.lock);
        std::string& last = warnings.warned[hive == Hive::CurrentUser ? 0 : 1];
        if (last == version) return;
        last = version;
    }
    Warn(text);
}

const char* FileName(Hive hive) { return hive == Hive::CurrentUser ? "HKCU.reg" : "HKCR.reg"; }

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor()
    {
        if (fd_ >= 0) close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

bool MakeFolders(const std::string& path)
{
    for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        std::string prefix = path.substr(0, slash);
        if (mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST) return false;
        if (slash == std::string::npos) return true;
    }
}

enum class ReadResult { Ok, Missing, Failed, TooLarge };

ReadResult ReadWhole(const std::string& path, std::string& text, struct stat& info)
{
    FileDescriptor file(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.get() < 0) return errno == ENOENT ? ReadResult::Missing : ReadResult::Failed;
    if (fstat(file.get(), &info) != 0) return ReadResult::Failed;
    size_t limit = hiveSizeLimit;
    if (size_t(info.st_size) > limit) return ReadResult::TooLarge;
    text.clear();
    char buffer[65536];
    for (;;) {
        ssize_t n = read(file.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return ReadResult::Failed;
        if (n == 0) return ReadResult::Ok;
        text.append(buffer, size_t(n));
        if (text.size() > limit) return ReadResult::TooLarge;
    }
}

bool WriteAll(int fd, const std::string& text)
{
    for (size_t done = 0; done < text.size();) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += size_t(n);
    }
    return true;
}

// Temp file in the same folder, flushed, then renamed over the hive: readers see the old
// file or the new one, never a part.
bool ReplaceFile(const std::string& path, const std::string& text)
{
    static std::atomic<unsigned> counter{0};
    std::string temp = path + ".tmp-" + std::to_string(getpid()) + "-" + std::to_string(counter++);
    FileDescriptor file(open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    if (file.get() < 0) return false;
    if (!WriteAll(file.get(), text) || fsync(file.get()) != 0 || rename(temp.c_str(), path.c_str()) != 0) {
        unlink(temp.c_str());
        return false;
    }
    return true;
}

// Temp files exist only while a writer holds the lock, so any found under the lock were left
// by a writer that died before its rename.
void RemoveStaleTemps(const std::string& folder, const std::string& fileName)
{
    DIR* dir = opendir(folder.c_str());
    if (!dir) return;
    std::string prefix = fileName + ".tmp-";
    while (dirent* entry = readdir(dir))
        if (std::strncmp(entry->d_name, prefix.c_str(), prefix.size()) == 0) unlinkat(dirfd(dir), entry->d_name, 0);
    closedir(dir);
}

std::string FolderOf(const std::string& path)
{
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// The file a write must replace: the hive path itself, or the file its symbolic links lead
// to (which may not exist yet), so that replacing it keeps the link.
std::string WriteTarget(std::string path)
{
    char link[PATH_MAX];
    for (int hops = 0; hops < 40; ++hops) {
        ssize_t n = readlink(path.c_str(), link, sizeof link - 1);
        if (n < 0) return path;
        link[n] = 0;
        path = link[0] == '/' ? std::string(link) : FolderOf(path) + "/" + link;
    }
    return path;
}

// A copy of the file as it was, for the lines a write is about to drop.
void KeepCopy(const std::string& path, const std::string& text)
{
    char stamp[32];
    std::time_t now = std::time(nullptr);
    std::tm local;
    localtime_r(&now, &local);
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    std::string copy = path + ".corrupt-" + stamp;
    for (int n = 2; access(copy.c_str(), F_OK) == 0; ++n) copy = path + ".corrupt-" + stamp + "-" + std::to_string(n);
    FileDescriptor file(open(copy.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (file.get() >= 0 && WriteAll(file.get(), text))
        Warn("registry: " + path + " is written without its unreadable lines; the file as it was is kept as " + copy);
    else
        Warn("registry: " + path + " is written without its unreadable lines; no copy could be kept (" +
             std::strerror(errno) + ")");
}

std::string SkippedReport(const std::string& path, const std::vector<std::string>& skipped)
{
    std::string text = "registry: " + path + ": " + std::to_string(skipped.size()) + " unreadable line" +
                       (skipped.size() == 1 ? "" : "s") + " skipped";
    for (size_t i = 0; i < skipped.size() && i < kMaxWarnedLines; ++i) text += "; " + skipped[i];
    if (skipped.size() > kMaxWarnedLines) text += "; ...";
    return text;
}

// The hive's lock, on a file of its own: the hive file itself is replaced by rename, so a lock
// on it would not be seen by whoever opens the new one. Exclusive for calls that may write;
// shared for reads. A folder that cannot be written (or does not exist) gives readers no
// lock file: nobody can replace the hive there, and renames never show a part of a file.
class HiveLock {
public:
    HiveLock(const std::string& lockPath, bool exclusive) : fd_(-1)
    {
        if (exclusive) {
            fd_ = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        } else {
            fd_ = open(lockPath.c_str(), O_RDONLY | O_CLOEXEC);
            if (fd_ < 0 && errno == ENOENT) fd_ = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        }
        if (fd_ < 0) return;
        while (flock(fd_, exclusive ? LOCK_EX : LOCK_SH) != 0) {
            if (errno == EINTR) continue;
            close(fd_);
            fd_ = -1;
            return;
        }
    }
    ~HiveLock()
    {
        if (fd_ >= 0) close(fd_);
    }
    bool Held() const { return fd_ >= 0; }

private:
    int fd_;
};

}  // namespace

const char* RootName(Hive hive) { return hive == Hive::CurrentUser ? "HKEY_CURRENT_USER" : "HKEY_CLASSES_ROOT"; }

std::string RegistryFolder()
{
    if (const char* dir = std::getenv("VELTRO_REGISTRY_DIR"); dir && *dir) return dir;
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && *config == '/')
        return std::string(config) + "/Veltro/registry";
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : ".") + "/.config/Veltro/registry";
}

void SetWarningHandler(std::function<void(const std::string&)> handler)
{
    Warnings& warnings = TheWarnings();
    std::lock_guard<std::mutex> hold(warnings.lock);
    warnings.handler = std::move(handler);
}

void SetHiveSizeLimit(size_t bytes) { hiveSizeLimit = bytes ? bytes : size_t(64) << 20; }

LONG AccessHive(Hive hive, Access access, const std::function<LONG(RegKey& root, bool& changed)>& use)
{
    std::string folder = RegistryFolder();
    std::string path = folder + "/" + FileName(hive);
    // A call that may write takes the exclusive lock where it can; where the folder cannot be
    // written it reads like any reader and fails only if it has something to write.
    bool canWrite = access == Access::ReadWrite && MakeFolders(folder);
    std::unique_ptr<HiveLock> lock;
    if (canWrite) {
        lock = std::make_unique<HiveLock>(path + ".lock", true);
        canWrite = lock->Held();
    }
    if (!canWrite) lock = std::make_unique<HiveLock>(path + ".lock", false);

    RegKey root;
    std::string text;
    std::vector<std::string> skipped;
    struct stat info {};
    switch (ReadWhole(path, text, info)) {
    case ReadResult::Missing: break;
    case ReadResult::Failed: return ERROR_ACCESS_DENIED;
    case ReadResult::TooLarge:
        // Never thrown away: the call fails and the file stays for the user to mend.
        WarnOncePerFile(hive, info, "registry: " + path + " is larger than " + std::to_string(hiveSizeLimit) +
                                        " bytes and is not read");
        return ERROR_NO_SYSTEM_RESOURCES;
    case ReadResult::Ok:
        ParseRegFile(text, RootName(hive), root, skipped);
        if (!skipped.empty()) WarnOncePerFile(hive, info, SkippedReport(path, skipped));
        break;
    }

    bool changed = false;
    LONG status = use(root, changed);
    if (!changed) return status;
    if (!canWrite) return ERROR_ACCESS_DENIED;
    std::string formatted = FormatRegFile(root, RootName(hive));
    if (formatted.size() > hiveSizeLimit) {
        // The file must stay one that the next call can read back.
        Warn("registry: " + path + " not changed: it would grow to " + std::to_string(formatted.size()) +
             " bytes, over the limit of " + std::to_string(hiveSizeLimit));
        return ERROR_NO_SYSTEM_RESOURCES;
    }
    std::string target = WriteTarget(path);
    if (!skipped.empty()) KeepCopy(target, text);
    RemoveStaleTemps(FolderOf(target), target.substr(target.rfind('/') + 1));
    if (!ReplaceFile(target, formatted)) return ERROR_WRITE_FAULT;
    return status;
}

}  // namespace registry
