#include "hivefile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "regfile.h"
#include "registry.h"

namespace registry {

namespace {

// A hive larger than this is not a file we wrote; it is treated as unreadable.
constexpr off_t kMaxHiveFileSize = off_t(64) << 20;

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

ReadResult ReadWhole(const std::string& path, std::string& text)
{
    FileDescriptor file(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.get() < 0) return errno == ENOENT ? ReadResult::Missing : ReadResult::Failed;
    struct stat info;
    if (fstat(file.get(), &info) != 0) return ReadResult::Failed;
    if (info.st_size > kMaxHiveFileSize) return ReadResult::TooLarge;
    text.clear();
    char buffer[65536];
    for (;;) {
        ssize_t n = read(file.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return ReadResult::Failed;
        if (n == 0) return ReadResult::Ok;
        text.append(buffer, size_t(n));
        if (text.size() > size_t(kMaxHiveFileSize)) return ReadResult::TooLarge;
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

void MoveAside(const std::string& path, const std::string& why)
{
    char stamp[32];
    std::time_t now = std::time(nullptr);
    std::tm local;
    localtime_r(&now, &local);
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    std::string aside = path + ".corrupt-" + stamp;
    for (int n = 2; access(aside.c_str(), F_OK) == 0; ++n) aside = path + ".corrupt-" + stamp + "-" + std::to_string(n);
    if (rename(path.c_str(), aside.c_str()) == 0)
        std::fprintf(stderr, "registry: %s cannot be read (%s); kept as %s, the hive starts empty\n", path.c_str(),
                     why.c_str(), aside.c_str());
    else
        std::fprintf(stderr, "registry: %s cannot be read (%s) nor moved aside (%s)\n", path.c_str(), why.c_str(),
                     std::strerror(errno));
}

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

LONG UpdateHive(Hive hive, const std::function<LONG(RegKey& root, bool& changed)>& change)
{
    std::string folder = RegistryFolder();
    if (!MakeFolders(folder)) return ERROR_ACCESS_DENIED;
    std::string path = folder + "/" + FileName(hive);

    // The lock lives on a file of its own: the hive file itself is replaced by rename, so a
    // lock on it would not be seen by whoever opens the new one.
    FileDescriptor lock(open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    if (lock.get() < 0) return ERROR_ACCESS_DENIED;
    while (flock(lock.get(), LOCK_EX) != 0)
        if (errno != EINTR) return ERROR_ACCESS_DENIED;

    RegKey root;
    std::string text, error;
    switch (ReadWhole(path, text)) {
    case ReadResult::Missing: break;
    case ReadResult::Failed: return ERROR_ACCESS_DENIED;
    case ReadResult::TooLarge: MoveAside(path, "larger than 64 MiB"); break;
    case ReadResult::Ok:
        if (!ParseRegFile(text, RootName(hive), root, error)) {
            MoveAside(path, error);
            root = RegKey();
        }
        break;
    }

    bool changed = false;
    LONG status = change(root, changed);
    if (!changed) return status;
    RemoveStaleTemps(folder, FileName(hive));
    if (!ReplaceFile(path, FormatRegFile(root, RootName(hive)))) return ERROR_WRITE_FAULT;
    return status;
}

}  // namespace registry
