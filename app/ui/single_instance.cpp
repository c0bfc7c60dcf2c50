#include "single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

std::string SingleInstanceLock::LockPath()
{
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime)
        return std::string(runtime) + "/veltro.lock";
    return "/tmp/veltro-" + std::to_string(getuid()) + ".lock";
}

SingleInstanceLock::Result SingleInstanceLock::Acquire(const std::string& path)
{
    fd_ = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ < 0) return Result::Failed;
    if (flock(fd_, LOCK_EX | LOCK_NB) == 0) return Result::Acquired;
    const bool held = errno == EWOULDBLOCK;
    close(fd_);
    fd_ = -1;
    return held ? Result::AlreadyRunning : Result::Failed;
}

SingleInstanceLock::~SingleInstanceLock()
{
    if (fd_ >= 0) close(fd_);
}
