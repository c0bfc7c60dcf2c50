// IStream over a growable memory buffer.
#include "stream.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

namespace {

// Offsets past this are refused so that size arithmetic stays within size_t and ULONG.
constexpr uint64_t kMaxStreamSize = uint64_t(1) << 40;

class MemoryStream final : public ComObject<IStream> {
public:
    explicit MemoryStream(std::vector<uint8_t> data) : data_(std::move(data)) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        if (ppv && riid == IID_ISequentialStream) {
            *ppv = static_cast<ISequentialStream*>(this);
            AddRef();
            return S_OK;
        }
        return ComObject<IStream>::QueryInterface(riid, ppv);
    }

    HRESULT STDMETHODCALLTYPE Read(void* buffer, ULONG size, ULONG* read) override
    {
        if (!buffer && size) return STG_E_READFAULT;
        std::lock_guard guard(lock_);
        size_t available = position_ < data_.size() ? data_.size() - position_ : 0;
        size_t count = std::min<size_t>(size, available);
        if (count) std::memcpy(buffer, data_.data() + position_, count);
        position_ += count;
        if (read) *read = ULONG(count);
        return count == size ? S_OK : S_FALSE;
    }

    HRESULT STDMETHODCALLTYPE Write(const void* buffer, ULONG size, ULONG* written) override
    {
        if (written) *written = 0;
        if (!buffer && size) return STG_E_WRITEFAULT;
        std::lock_guard guard(lock_);
        uint64_t end = uint64_t(position_) + size;
        if (end > kMaxStreamSize) return STG_E_WRITEFAULT;
        try {
            if (end > data_.size()) data_.resize(end);
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
        if (size) std::memcpy(data_.data() + position_, buffer, size);
        position_ = end;
        if (written) *written = size;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPosition) override
    {
        std::lock_guard guard(lock_);
        int64_t base;
        switch (origin) {
        case STREAM_SEEK_SET: base = 0; break;
        case STREAM_SEEK_CUR: base = int64_t(position_); break;
        case STREAM_SEEK_END: base = int64_t(data_.size()); break;
        default: return E_INVALIDARG;
        }
        if (move.QuadPart < -base || move.QuadPart > int64_t(kMaxStreamSize) - base) return E_INVALIDARG;
        position_ = size_t(base + move.QuadPart);
        if (newPosition) newPosition->QuadPart = position_;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER newSize) override
    {
        if (newSize.QuadPart > kMaxStreamSize) return E_OUTOFMEMORY;
        std::lock_guard guard(lock_);
        try {
            data_.resize(size_t(newSize.QuadPart));
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE CopyTo(IStream* target, ULARGE_INTEGER size, ULARGE_INTEGER* read,
                                     ULARGE_INTEGER* written) override
    {
        if (!target) return E_POINTER;
        std::vector<uint8_t> chunk;
        {
            std::lock_guard guard(lock_);
            size_t available = position_ < data_.size() ? data_.size() - position_ : 0;
            size_t count = size_t(std::min<uint64_t>(size.QuadPart, available));
            chunk.assign(data_.begin() + position_, data_.begin() + position_ + count);
            position_ += count;
        }
        if (read) read->QuadPart = chunk.size();
        uint64_t total = 0;
        HRESULT hr = S_OK;
        for (size_t offset = 0; offset < chunk.size() && SUCCEEDED(hr);) {
            ULONG piece = ULONG(std::min<size_t>(chunk.size() - offset, 1u << 30)), done = 0;
            hr = target->Write(chunk.data() + offset, piece, &done);
            total += done;
            offset += piece;
        }
        if (written) written->QuadPart = total;
        return hr;
    }

    HRESULT STDMETHODCALLTYPE Commit(DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Revert() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Stat(STATSTG*, DWORD) override { return E_NOTIMPL; }

    HRESULT STDMETHODCALLTYPE Clone(IStream** clone) override
    {
        if (!clone) return E_POINTER;
        std::lock_guard guard(lock_);
        auto* copy = new (std::nothrow) MemoryStream(data_);
        if (!copy) return E_OUTOFMEMORY;
        copy->position_ = position_;
        *clone = copy;
        return S_OK;
    }

private:
    std::mutex lock_;
    std::vector<uint8_t> data_;
    size_t position_ = 0;
};

}  // namespace

HRESULT CreateMemoryStream(const void* initial, size_t size, IStream** stream)
{
    if (!stream) return E_POINTER;
    *stream = nullptr;
    if (!initial && size) return E_INVALIDARG;
    try {
        auto* bytes = static_cast<const uint8_t*>(initial);
        *stream = new MemoryStream(std::vector<uint8_t>(bytes, bytes + size));
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}
