#include "v4l2_device.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

class SystemNode final : public V4l2Device {
public:
    explicit SystemNode(int fd) : fd_(fd) {}
    ~SystemNode() override { close(fd_); }

    int Ioctl(unsigned long request, void* arg) override
    {
        int r;
        do r = ioctl(fd_, request, arg);
        while (r < 0 && errno == EINTR);
        return r;
    }

    V4l2Wait WaitForFrame(int timeoutMs) override
    {
        pollfd pfd{fd_, POLLIN, 0};
        int ready = poll(&pfd, 1, timeoutMs);
        if (ready == 0 || (ready < 0 && errno == EINTR)) return V4l2Wait::Timeout;
        if (ready < 0 || (pfd.revents & (POLLERR | POLLHUP | POLLNVAL))) return V4l2Wait::Failed;
        return V4l2Wait::Ready;
    }

    void* Map(size_t length, uint32_t offset) override
    {
        void* start = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, off_t(offset));
        return start == MAP_FAILED ? nullptr : start;
    }
    void Unmap(void* start, size_t length) override { munmap(start, length); }

private:
    int fd_;
};

class SystemNodes final : public V4l2Nodes {
public:
    std::vector<std::string> Paths() override
    {
        std::vector<std::pair<int, std::string>> found;
        if (DIR* dir = opendir("/dev")) {
            while (dirent* entry = readdir(dir)) {
                int number;
                char tail;
                if (sscanf(entry->d_name, "video%d%c", &number, &tail) == 1)
                    found.push_back({number, std::string("/dev/") + entry->d_name});
            }
            closedir(dir);
        }
        std::sort(found.begin(), found.end());
        std::vector<std::string> paths;
        for (auto& f : found) paths.push_back(std::move(f.second));
        return paths;
    }

    std::unique_ptr<V4l2Device> Open(const std::string& path, std::string* error) override
    {
        int fd = open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            if (error) *error = path + ": " + strerror(errno);
            return nullptr;
        }
        return std::make_unique<SystemNode>(fd);
    }
};

}  // namespace

V4l2Nodes& SystemV4l2Nodes()
{
    static SystemNodes nodes;
    return nodes;
}
