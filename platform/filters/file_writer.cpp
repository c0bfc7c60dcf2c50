// File Writer: writes each sample at the byte offset given by its start time, so that a
// multiplexer can go back and rewrite its headers; samples without a time are appended.
// Its input pin also offers IStream, which writes into the open file in any state: a
// multiplexer stopped after the writer can still put its closing data into the file.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <string>

#include "../com/stream.h"

#include "../com/taskmem.h"
#include "../com/variant.h"
#include "../dshow/renbase.h"
#include "../dshow/uuids.h"
#include "platform_filters.h"

namespace {

class CFileWriter : public CBaseRenderer, public IFileSinkFilter {
public:
    CFileWriter(IUnknown* outer, HRESULT* phr) : CBaseRenderer(CLSID_FileWriter, "File Writer", outer, phr, u"in") {}
    ~CFileWriter() override { CloseFile(); }

    DECLARE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void** ppv) override
    {
        if (iid == IID_IFileSinkFilter) return GetInterface(static_cast<IFileSinkFilter*>(this), ppv);
        return CBaseRenderer::NonDelegatingQueryInterface(iid, ppv);
    }

    HRESULT CheckMediaType(const CMediaType* mt) override
    {
        CAutoLock lock(&m_InterfaceLock);
        if (fileType_.majortype != GUID_NULL && fileType_.majortype != mt->majortype) return VFW_E_TYPE_NOT_ACCEPTED;
        return S_OK;
    }
    bool ScheduleSamples() const override { return false; }

    HRESULT OnStartStreaming() override
    {
        if (fileName_.empty()) return VFW_E_NO_SINK;
        {
            std::lock_guard lock(fileMutex_);
            if (fd_ >= 0) {
                append_ = 0;
                pinStream_.Rewind();
                return S_OK;
            }
        }
        return OpenFile();
    }

    HRESULT DoRenderSample(IMediaSample* sample) override
    {
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        LONG length = sample->GetActualDataLength();
        REFERENCE_TIME start = 0, end = 0;
        bool timed = sample->GetTime(&start, &end) != VFW_E_SAMPLE_TIME_NOT_SET;
        std::lock_guard lock(fileMutex_);
        if (fd_ < 0) return VFW_E_WRONG_STATE;
        off_t offset = timed ? off_t(start) : append_;
        if (offset < 0) return E_INVALIDARG;
        HRESULT hr = WriteAt(data, length, offset);
        if (FAILED(hr)) NotifyEvent(EC_ERRORABORT, hr, 0);
        return hr;
    }

    HRESULT GetInputPinInterface(REFIID iid, void** ppv) override
    {
        if (iid == IID_IStream || iid == IID_ISequentialStream) return GetInterface(&pinStream_, ppv);
        return E_NOINTERFACE;
    }

    // ---- IFileSinkFilter

    // Creates the file at once, so that a name that cannot be written fails here.
    HRESULT STDMETHODCALLTYPE SetFileName(LPCOLESTR fileName, const AM_MEDIA_TYPE* mt) override
    {
        if (!fileName) return E_POINTER;
        CAutoLock lock(&m_InterfaceLock);
        if (m_State != State_Stopped) return VFW_E_NOT_STOPPED;
        CloseFile();
        fileName_ = Utf8FromUtf16(fileName);
        fileType_ = mt ? CMediaType(*mt) : CMediaType(&GUID_NULL);
        return OpenFile();
    }

    HRESULT STDMETHODCALLTYPE GetCurFile(LPOLESTR* fileName, AM_MEDIA_TYPE* mt) override
    {
        if (!fileName) return E_POINTER;
        CAutoLock lock(&m_InterfaceLock);
        *fileName = nullptr;
        if (fileName_.empty()) {
            if (mt) std::memset(mt, 0, sizeof(*mt));
            return S_FALSE;
        }
        std::u16string wide = Utf16FromUtf8(fileName_);
        *fileName = static_cast<LPOLESTR>(CoTaskMemAlloc((wide.size() + 1) * sizeof(OLECHAR)));
        if (!*fileName) return E_OUTOFMEMORY;
        std::memcpy(*fileName, wide.c_str(), (wide.size() + 1) * sizeof(OLECHAR));
        if (mt) CopyMediaType(mt, &fileType_);
        return S_OK;
    }

private:
    // The input pin's IStream: a write position in the open file. Its identity and reference
    // count are the pin's.
    class PinStream : public IStream {
    public:
        explicit PinStream(CFileWriter* writer) : writer_(writer) {}

        HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** ppv) override
        {
            return writer_->m_pInputPin->QueryInterface(iid, ppv);
        }
        ULONG STDMETHODCALLTYPE AddRef() override { return writer_->m_pInputPin->AddRef(); }
        ULONG STDMETHODCALLTYPE Release() override { return writer_->m_pInputPin->Release(); }

        HRESULT STDMETHODCALLTYPE Read(void*, ULONG, ULONG*) override { return E_NOTIMPL; }
        HRESULT STDMETHODCALLTYPE Write(const void* buffer, ULONG size, ULONG* written) override
        {
            if (written) *written = 0;
            if (!buffer && size) return E_POINTER;
            std::lock_guard lock(writer_->fileMutex_);
            if (writer_->fd_ < 0) return STG_E_WRITEFAULT;
            HRESULT hr = writer_->WriteAt(static_cast<const BYTE*>(buffer), LONG(size), position_);
            if (FAILED(hr)) return hr;
            position_ += off_t(size);
            if (written) *written = size;
            return S_OK;
        }
        HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPosition) override
        {
            std::lock_guard lock(writer_->fileMutex_);
            int64_t base = origin == STREAM_SEEK_SET   ? 0
                           : origin == STREAM_SEEK_CUR ? int64_t(position_)
                           : origin == STREAM_SEEK_END ? int64_t(writer_->append_)
                                                       : -1;
            if (base < 0 || base + move.QuadPart < 0) return E_INVALIDARG;
            position_ = off_t(base + move.QuadPart);
            if (newPosition) newPosition->QuadPart = uint64_t(position_);
            return S_OK;
        }
        HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER newSize) override
        {
            std::lock_guard lock(writer_->fileMutex_);
            if (writer_->fd_ < 0 || ftruncate(writer_->fd_, off_t(newSize.QuadPart)) != 0) return STG_E_WRITEFAULT;
            writer_->append_ = off_t(newSize.QuadPart);
            return S_OK;
        }
        HRESULT STDMETHODCALLTYPE CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override
        {
            return E_NOTIMPL;
        }
        HRESULT STDMETHODCALLTYPE Commit(DWORD) override
        {
            std::lock_guard lock(writer_->fileMutex_);
            return writer_->fd_ >= 0 && fdatasync(writer_->fd_) == 0 ? S_OK : STG_E_WRITEFAULT;
        }
        HRESULT STDMETHODCALLTYPE Revert() override { return E_NOTIMPL; }
        HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
        HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
        HRESULT STDMETHODCALLTYPE Stat(STATSTG*, DWORD) override { return E_NOTIMPL; }
        HRESULT STDMETHODCALLTYPE Clone(IStream**) override { return E_NOTIMPL; }

        void Rewind() { position_ = 0; }

    private:
        CFileWriter* writer_;
        off_t position_ = 0;
    };

    // Called with fileMutex_ held.
    HRESULT WriteAt(const BYTE* data, LONG length, off_t offset)
    {
        for (LONG done = 0; done < length;) {
            ssize_t n = pwrite(fd_, data + done, size_t(length - done), offset + done);
            if (n < 0) {
                if (errno == EINTR) continue;
                return STG_E_WRITEFAULT;
            }
            done += LONG(n);
        }
        append_ = std::max<off_t>(append_, offset + length);
        return S_OK;
    }
    HRESULT OpenFile()
    {
        std::lock_guard lock(fileMutex_);
        fd_ = open(fileName_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        append_ = 0;
        pinStream_.Rewind();
        return fd_ >= 0 ? S_OK : E_ACCESSDENIED;
    }
    void CloseFile()
    {
        std::lock_guard lock(fileMutex_);
        if (fd_ >= 0) close(fd_);
        fd_ = -1;
    }

    std::string fileName_;
    CMediaType fileType_{&GUID_NULL};
    std::mutex fileMutex_;  // the descriptor, the append position and the pin stream's position
    int fd_ = -1;
    off_t append_ = 0;
    PinStream pinStream_{this};
};

}  // namespace

CUnknown* CreateFileWriter(IUnknown* outer, HRESULT* phr) { return new CFileWriter(outer, phr); }
