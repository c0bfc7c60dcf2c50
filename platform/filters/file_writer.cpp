// File Writer: writes each sample at the byte offset given by its start time, so that a
// multiplexer can go back and rewrite its headers; samples without a time are appended.
#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <string>

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
        append_ = 0;
        return fd_ >= 0 ? S_OK : OpenFile();
    }

    HRESULT DoRenderSample(IMediaSample* sample) override
    {
        if (fd_ < 0) return VFW_E_WRONG_STATE;
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        LONG length = sample->GetActualDataLength();
        REFERENCE_TIME start = 0, end = 0;
        off_t offset = sample->GetTime(&start, &end) == VFW_E_SAMPLE_TIME_NOT_SET ? append_ : off_t(start);
        if (offset < 0) return E_INVALIDARG;
        for (LONG done = 0; done < length;) {
            ssize_t n = pwrite(fd_, data + done, size_t(length - done), offset + done);
            if (n < 0) {
                if (errno == EINTR) continue;
                NotifyEvent(EC_ERRORABORT, STG_E_WRITEFAULT, 0);
                return STG_E_WRITEFAULT;
            }
            done += LONG(n);
        }
        append_ = std::max<off_t>(append_, offset + length);
        return S_OK;
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
    HRESULT OpenFile()
    {
        fd_ = open(fileName_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        return fd_ >= 0 ? S_OK : E_ACCESSDENIED;
    }
    void CloseFile()
    {
        if (fd_ >= 0) close(fd_);
        fd_ = -1;
    }

    std::string fileName_;
    CMediaType fileType_{&GUID_NULL};
    int fd_ = -1;
    off_t append_ = 0;
};

}  // namespace

CUnknown* CreateFileWriter(IUnknown* outer, HRESULT* phr) { return new CFileWriter(outer, phr); }
