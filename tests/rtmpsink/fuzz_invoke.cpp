// A server's command message handed to the session: replies, errors, statuses, closes.
#include <cstddef>
#include <cstdint>

#include "rtmp_connection.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    RTMPConnection connection;
    connection.ParseConnectionString("rtmp://127.0.0.1/live/@fuzz");
    // Calls waiting for replies, as after the opening commands (sends fail: no socket).
    connection.SendConnect();
    connection.SendCreateStream();
    size_t half = size / 2;
    connection.HandleInvoke(data, static_cast<uint32_t>(half));
    connection.HandleInvoke(data + half, static_cast<uint32_t>(size - half));
    return 0;
}
