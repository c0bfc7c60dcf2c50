#include "mux_packet.h"

#include <array>
#include <mutex>
#include <new>
#include <vector>

namespace {

// Blocks come in power-of-two sizes from 4 KB; each size keeps up to a queue's worth of free
// blocks for reuse. Large blocks would otherwise be mapped and unmapped for every key frame.
constexpr int kSmallestClass = 12;
constexpr int kClasses = 20;  // up to 2 GB
constexpr size_t kKeptPerClass = 64;

class BlockPool {
public:
    static BlockPool& Instance()
    {
        static BlockPool* pool = new BlockPool;  // outlives every packet, also at exit
        return *pool;
    }

    void* Take(int sizeClass)
    {
        {
            std::lock_guard<std::mutex> hold(lock_);
            std::vector<void*>& free = free_[sizeClass];
            if (!free.empty()) {
                void* block = free.back();
                free.pop_back();
                return block;
            }
        }
        return ::operator new(BlockSize(sizeClass));
    }

    void Give(int sizeClass, void* block)
    {
        {
            std::lock_guard<std::mutex> hold(lock_);
            std::vector<void*>& free = free_[sizeClass];
            if (free.size() < kKeptPerClass) {
                free.push_back(block);
                return;
            }
        }
        ::operator delete(block);
    }

    static size_t BlockSize(int sizeClass) { return size_t(1) << (kSmallestClass + sizeClass); }

    static int ClassFor(size_t bytes)
    {
        int sizeClass = 0;
        while (BlockSize(sizeClass) < bytes) ++sizeClass;
        return sizeClass;
    }

private:
    std::mutex lock_;
    std::array<std::vector<void*>, kClasses> free_;
};

}  // namespace

PacketPtr CMuxInterPacket::Create(uint32_t capacity)
{
    int sizeClass = BlockPool::ClassFor(sizeof(CMuxInterPacket) + kFrontRoom + size_t(capacity));
    auto* packet = new (BlockPool::Instance().Take(sizeClass)) CMuxInterPacket;
    packet->sizeClass_ = static_cast<uint8_t>(sizeClass);
    packet->data = reinterpret_cast<uint8_t*>(packet + 1) + kFrontRoom;
    return PacketPtr(packet);
}

void PacketDeleter::operator()(CMuxInterPacket* packet) const
{
    int sizeClass = packet->sizeClass_;
    packet->~CMuxInterPacket();
    BlockPool::Instance().Give(sizeClass, packet);
}
