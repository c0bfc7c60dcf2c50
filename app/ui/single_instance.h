// One running program per user: a lock on a file in the user's runtime folder, held for the
// life of the process.
#pragma once

#include <string>

class SingleInstanceLock {
public:
    enum class Result { Acquired, AlreadyRunning, Failed };
    // $XDG_RUNTIME_DIR/veltro.lock, else a per-user file in the temporary folder.
    static std::string LockPath();
    Result Acquire(const std::string& path = LockPath());
    ~SingleInstanceLock();

private:
    int fd_ = -1;
};
