#include <gtest/gtest.h>

#include <cstring>

#include "com/stream.h"

namespace {

ULARGE_INTEGER Seek(IStream* s, int64_t move, DWORD origin, HRESULT expected = S_OK)
{
    ULARGE_INTEGER position{~0ull};
    EXPECT_EQ(s->Seek(LARGE_INTEGER{move}, origin, &position), expected);
    return position;
}

TEST(MemoryStream, ReadsWritesSeeksAndGrows)
{
    ComPtr<IStream> stream;
    ASSERT_EQ(CreateMemoryStream("abcdef", 6, stream.Put()), S_OK);
    char buffer[16] = {};
    ULONG count = 0;
    ASSERT_EQ(stream->Read(buffer, 4, &count), S_OK);
    EXPECT_EQ(std::string(buffer, count), "abcd");
    EXPECT_EQ(stream->Read(buffer, 4, &count), S_FALSE) << "a short read says so";
    EXPECT_EQ(std::string(buffer, count), "ef");
    EXPECT_EQ(stream->Read(buffer, 4, &count), S_FALSE);
    EXPECT_EQ(count, 0u);

    // Writing past the end after a seek fills the gap with zeros.
    EXPECT_EQ(Seek(stream.Get(), 2, STREAM_SEEK_END).QuadPart, 8u);
    ASSERT_EQ(stream->Write("XY", 2, &count), S_OK);
    EXPECT_EQ(Seek(stream.Get(), 0, STREAM_SEEK_SET).QuadPart, 0u);
    ASSERT_EQ(stream->Read(buffer, 16, &count), S_FALSE);
    EXPECT_EQ(count, 10u);
    EXPECT_EQ(std::memcmp(buffer, "abcdef\0\0XY", 10), 0);

    EXPECT_EQ(Seek(stream.Get(), -3, STREAM_SEEK_CUR).QuadPart, 7u);
    Seek(stream.Get(), -8, STREAM_SEEK_CUR, E_INVALIDARG);
    EXPECT_EQ(Seek(stream.Get(), 0, STREAM_SEEK_CUR).QuadPart, 7u) << "a refused seek keeps the position";

    ASSERT_EQ(stream->SetSize(ULARGE_INTEGER{3}), S_OK);
    EXPECT_EQ(Seek(stream.Get(), 0, STREAM_SEEK_END).QuadPart, 3u);

    ComPtr<IStream> clone;
    ASSERT_EQ(stream->Clone(clone.Put()), S_OK);
    Seek(stream.Get(), 0, STREAM_SEEK_SET);
    ComPtr<IStream> target;
    ASSERT_EQ(CreateMemoryStream(nullptr, 0, target.Put()), S_OK);
    ULARGE_INTEGER read{}, written{};
    ASSERT_EQ(stream->CopyTo(target.Get(), ULARGE_INTEGER{100}, &read, &written), S_OK);
    EXPECT_EQ(read.QuadPart, 3u);
    EXPECT_EQ(written.QuadPart, 3u);
    Seek(target.Get(), 0, STREAM_SEEK_SET);
    ASSERT_EQ(target->Read(buffer, 3, &count), S_OK);
    EXPECT_EQ(std::string(buffer, 3), "abc");

    ComPtr<ISequentialStream> sequential;
    EXPECT_EQ(stream.As(sequential), S_OK);
}

}  // namespace
