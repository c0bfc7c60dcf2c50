// An outgoing message body with room in front of it, where the chunk writer builds the
// headers of the first and of every continuation chunk without copying the body.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>

class MessageBuffer {
public:
    // Basic header (3) + message header (11) + extended timestamp (4).
    static constexpr uint32_t kHeaderRoom = 18;

    MessageBuffer() = default;
    explicit MessageBuffer(uint32_t bodyCapacity)
        : bytes_(new uint8_t[kHeaderRoom + bodyCapacity]()), capacity_(bodyCapacity)
    {
    }

    uint8_t* Body() { return bytes_.get() + kHeaderRoom; }
    const uint8_t* Body() const { return bytes_.get() + kHeaderRoom; }
    uint8_t* BodyEnd() { return Body() + capacity_; }
    uint32_t Capacity() const { return capacity_; }
    explicit operator bool() const { return bytes_ != nullptr; }

private:
    std::unique_ptr<uint8_t[]> bytes_;
    uint32_t capacity_ = 0;
};
