#include "mtype.h"

#include <cstdio>
#include <cstring>
#include <utility>

#include "../com/taskmem.h"

void FreeMediaType(AM_MEDIA_TYPE& mt)
{
    if (mt.cbFormat != 0 || mt.pbFormat) {
        CoTaskMemFree(mt.pbFormat);
        mt.cbFormat = 0;
        mt.pbFormat = nullptr;
    }
    if (mt.pUnk) {
        mt.pUnk->Release();
        mt.pUnk = nullptr;
    }
}

void DeleteMediaType(AM_MEDIA_TYPE* mt)
{
    if (!mt) return;
    FreeMediaType(*mt);
    CoTaskMemFree(mt);
}

HRESULT CopyMediaType(AM_MEDIA_TYPE* target, const AM_MEDIA_TYPE* source)
{
    if (!target || !source) return E_POINTER;
    *target = *source;
    if (source->cbFormat != 0 && source->pbFormat) {
        target->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(source->cbFormat));
        if (!target->pbFormat) {
            target->cbFormat = 0;
            target->pUnk = nullptr;
            return E_OUTOFMEMORY;
        }
        std::memcpy(target->pbFormat, source->pbFormat, source->cbFormat);
    } else {
        target->cbFormat = 0;
        target->pbFormat = nullptr;
    }
    if (target->pUnk) target->pUnk->AddRef();
    return S_OK;
}

AM_MEDIA_TYPE* CreateMediaType(const AM_MEDIA_TYPE* source)
{
    auto* mt = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    if (!mt) return nullptr;
    if (FAILED(CopyMediaType(mt, source))) {
        CoTaskMemFree(mt);
        return nullptr;
    }
    return mt;
}

CMediaType::CMediaType() { InitMediaType(); }

CMediaType::CMediaType(const GUID* majorType)
{
    InitMediaType();
    majortype = *majorType;
}

CMediaType::CMediaType(const AM_MEDIA_TYPE& other)
{
    InitMediaType();
    Set(other);
}

CMediaType::CMediaType(const CMediaType& other) : CMediaType(static_cast<const AM_MEDIA_TYPE&>(other)) {}

CMediaType::CMediaType(CMediaType&& other) noexcept
{
    *static_cast<AM_MEDIA_TYPE*>(this) = other;
    other.pbFormat = nullptr;
    other.cbFormat = 0;
    other.pUnk = nullptr;
}

CMediaType::~CMediaType() { FreeMediaType(*this); }

CMediaType& CMediaType::operator=(const AM_MEDIA_TYPE& other)
{
    Set(other);
    return *this;
}

CMediaType& CMediaType::operator=(const CMediaType& other)
{
    Set(other);
    return *this;
}

CMediaType& CMediaType::operator=(CMediaType&& other) noexcept
{
    if (this != &other) {
        FreeMediaType(*this);
        *static_cast<AM_MEDIA_TYPE*>(this) = other;
        other.pbFormat = nullptr;
        other.cbFormat = 0;
        other.pUnk = nullptr;
    }
    return *this;
}

namespace {

// A block announced with a length but no bytes counts as empty, as CopyMediaType makes it.
bool SameFormatBlock(const AM_MEDIA_TYPE& a, const AM_MEDIA_TYPE& b)
{
    ULONG lengthA = a.pbFormat ? a.cbFormat : 0, lengthB = b.pbFormat ? b.cbFormat : 0;
    return lengthA == lengthB && (lengthA == 0 || std::memcmp(a.pbFormat, b.pbFormat, lengthA) == 0);
}

}  // namespace

bool CMediaType::operator==(const CMediaType& other) const
{
    return majortype == other.majortype && subtype == other.subtype && formattype == other.formattype &&
           SameFormatBlock(*this, other);
}

HRESULT CMediaType::Set(const CMediaType& other) { return Set(static_cast<const AM_MEDIA_TYPE&>(other)); }

HRESULT CMediaType::Set(const AM_MEDIA_TYPE& other)
{
    if (&other == this) return S_OK;
    AM_MEDIA_TYPE copy;
    HRESULT hr = CopyMediaType(&copy, &other);
    if (FAILED(hr)) return hr;
    FreeMediaType(*this);
    *static_cast<AM_MEDIA_TYPE*>(this) = copy;
    return S_OK;
}

void CMediaType::SetSampleSize(ULONG size)
{
    if (size == 0) {
        SetVariableSize();
    } else {
        bFixedSizeSamples = TRUE;
        lSampleSize = size;
    }
}

BOOL CMediaType::SetFormat(const BYTE* format, ULONG length)
{
    if (length == 0) {
        ResetFormatBuffer();
        return TRUE;
    }
    if (format == pbFormat && length == cbFormat) return TRUE;  // AllocFormatBuffer would zero it
    if (!AllocFormatBuffer(length)) return FALSE;
    std::memcpy(pbFormat, format, length);
    return TRUE;
}

BYTE* CMediaType::AllocFormatBuffer(ULONG length)
{
    if (length == 0) return nullptr;
    if (cbFormat == length) {
        std::memset(pbFormat, 0, length);
        return pbFormat;
    }
    auto* block = static_cast<BYTE*>(CoTaskMemAlloc(length));
    if (!block) return nullptr;
    std::memset(block, 0, length);
    CoTaskMemFree(pbFormat);
    pbFormat = block;
    cbFormat = length;
    return block;
}

BYTE* CMediaType::ReallocFormatBuffer(ULONG length)
{
    if (length == 0) return nullptr;
    auto* block = static_cast<BYTE*>(CoTaskMemAlloc(length));
    if (!block) return nullptr;
    std::memset(block, 0, length);
    if (pbFormat) std::memcpy(block, pbFormat, std::min(length, cbFormat));
    CoTaskMemFree(pbFormat);
    pbFormat = block;
    cbFormat = length;
    return block;
}

void CMediaType::ResetFormatBuffer()
{
    CoTaskMemFree(pbFormat);
    pbFormat = nullptr;
    cbFormat = 0;
}

void CMediaType::InitMediaType()
{
    std::memset(static_cast<AM_MEDIA_TYPE*>(this), 0, sizeof(AM_MEDIA_TYPE));
    lSampleSize = 1;
    bFixedSizeSamples = TRUE;
}

BOOL CMediaType::MatchesPartial(const CMediaType* partial) const
{
    if (partial->majortype != GUID_NULL && majortype != partial->majortype) return FALSE;
    if (partial->subtype != GUID_NULL && subtype != partial->subtype) return FALSE;
    if (partial->formattype != GUID_NULL) {
        if (formattype != partial->formattype || !SameFormatBlock(*this, *partial)) return FALSE;
    }
    return TRUE;
}

BOOL CMediaType::IsPartiallySpecified() const { return !IsFullySpecified(*this); }

bool IsFullySpecified(const AM_MEDIA_TYPE& mt)
{
    return mt.majortype != GUID_NULL && mt.subtype != GUID_NULL && mt.formattype != GUID_NULL;
}

namespace {

template <class T>
const T* FormatAs(const AM_MEDIA_TYPE& mt, REFGUID formatType)
{
    if (mt.formattype != formatType || !mt.pbFormat || mt.cbFormat < sizeof(T)) return nullptr;
    return reinterpret_cast<const T*>(mt.pbFormat);
}

}  // namespace

const VIDEOINFOHEADER* GetVideoInfoHeader(const AM_MEDIA_TYPE& mt)
{
    return FormatAs<VIDEOINFOHEADER>(mt, FORMAT_VideoInfo);
}

const VIDEOINFOHEADER2* GetVideoInfoHeader2(const AM_MEDIA_TYPE& mt)
{
    return FormatAs<VIDEOINFOHEADER2>(mt, FORMAT_VideoInfo2);
}

const BITMAPINFOHEADER* GetBitmapInfoHeader(const AM_MEDIA_TYPE& mt)
{
    // MPEG1VIDEOINFO and MPEG2VIDEOINFO start with the two video info headers.
    if (mt.formattype == FORMAT_VideoInfo || mt.formattype == FORMAT_MPEGVideo) {
        if (mt.pbFormat && mt.cbFormat >= sizeof(VIDEOINFOHEADER))
            return &reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat)->bmiHeader;
    } else if (mt.formattype == FORMAT_VideoInfo2 || mt.formattype == FORMAT_MPEG2Video) {
        if (mt.pbFormat && mt.cbFormat >= sizeof(VIDEOINFOHEADER2))
            return &reinterpret_cast<const VIDEOINFOHEADER2*>(mt.pbFormat)->bmiHeader;
    }
    return nullptr;
}

REFERENCE_TIME GetAvgTimePerFrame(const AM_MEDIA_TYPE& mt)
{
    if (!GetBitmapInfoHeader(mt)) return 0;
    // AvgTimePerFrame sits at offset 40 in both video info headers.
    static_assert(offsetof(VIDEOINFOHEADER, AvgTimePerFrame) == offsetof(VIDEOINFOHEADER2, AvgTimePerFrame));
    REFERENCE_TIME value;
    std::memcpy(&value, mt.pbFormat + offsetof(VIDEOINFOHEADER, AvgTimePerFrame), sizeof(value));
    return value;
}

const WAVEFORMATEX* GetWaveFormatEx(const AM_MEDIA_TYPE& mt)
{
    auto* wfx = FormatAs<WAVEFORMATEX>(mt, FORMAT_WaveFormatEx);
    // Windows allows a plain WAVEFORMAT block of 16 bytes for PCM; it has no cbSize.
    if (!wfx || sizeof(WAVEFORMATEX) + size_t(wfx->cbSize) > mt.cbFormat) return nullptr;
    return wfx;
}

std::span<const BYTE> GetWaveFormatExtra(const AM_MEDIA_TYPE& mt)
{
    const WAVEFORMATEX* wfx = GetWaveFormatEx(mt);
    if (!wfx) return {};
    return {mt.pbFormat + sizeof(WAVEFORMATEX), wfx->cbSize};
}

std::span<const BYTE> GetSequenceHeader(const AM_MEDIA_TYPE& mt)
{
    size_t offset, lengthAt;
    if (mt.formattype == FORMAT_MPEGVideo) {
        offset = offsetof(MPEG1VIDEOINFO, bSequenceHeader);
        lengthAt = offsetof(MPEG1VIDEOINFO, cbSequenceHeader);
    } else if (mt.formattype == FORMAT_MPEG2Video) {
        offset = offsetof(MPEG2VIDEOINFO, dwSequenceHeader);
        lengthAt = offsetof(MPEG2VIDEOINFO, cbSequenceHeader);
    } else {
        return {};
    }
    if (!mt.pbFormat || mt.cbFormat < offset) return {};
    DWORD length;
    std::memcpy(&length, mt.pbFormat + lengthAt, sizeof(length));
    if (length > mt.cbFormat - offset) return {};
    return {mt.pbFormat + offset, length};
}

ULONG GetBitmapFrameSize(const BITMAPINFOHEADER& bi)
{
    if (bi.biWidth <= 0 || bi.biHeight == 0 || bi.biHeight == INT32_MIN) return 0;
    uint64_t height = uint64_t(bi.biHeight < 0 ? -int64_t(bi.biHeight) : bi.biHeight);
    uint64_t bits = uint64_t(bi.biWidth) * bi.biBitCount;
    uint64_t size;
    switch (bi.biCompression) {
    case MakeFourCC('Y', 'V', '1', '2'):
    case MakeFourCC('I', '4', '2', '0'):
    case MakeFourCC('I', 'Y', 'U', 'V'):
    case MakeFourCC('N', 'V', '1', '2'):
        // Planar 4:2:0: a full luma plane and two quarter chroma planes, no row padding.
        size = uint64_t(bi.biWidth) * height + 2 * ((uint64_t(bi.biWidth) + 1) / 2) * ((height + 1) / 2);
        break;
    default:
        if (bi.biBitCount == 0) return bi.biSizeImage;
        size = ((bits + 31) & ~uint64_t(31)) / 8 * height;
        break;
    }
    return size > 0x7FFFFFFF ? 0 : ULONG(size);
}

std::string MediaTypeName(REFGUID guid)
{
    static const std::pair<const GUID*, const char*> names[] = {
        {&GUID_NULL, "any"},
        {&MEDIATYPE_Video, "Video"},
        {&MEDIATYPE_Audio, "Audio"},
        {&MEDIATYPE_Stream, "Stream"},
        {&MEDIATYPE_Interleaved, "Interleaved"},
        {&MEDIATYPE_Text, "Text"},
        {&MEDIASUBTYPE_RGB8, "RGB8"},
        {&MEDIASUBTYPE_RGB565, "RGB565"},
        {&MEDIASUBTYPE_RGB555, "RGB555"},
        {&MEDIASUBTYPE_RGB24, "RGB24"},
        {&MEDIASUBTYPE_RGB32, "RGB32"},
        {&MEDIASUBTYPE_ARGB32, "ARGB32"},
        {&MEDIASUBTYPE_PCM, "PCM"},
        {&MEDIASUBTYPE_IEEE_FLOAT, "IEEE_FLOAT"},
        {&MEDIASUBTYPE_MP3, "MP3"},
        {&MEDIASUBTYPE_RAW_AAC1, "RAW_AAC1"},
        {&MEDIASUBTYPE_None, "None"},
        {&FORMAT_None, "FORMAT_None"},
        {&FORMAT_VideoInfo, "VideoInfo"},
        {&FORMAT_VideoInfo2, "VideoInfo2"},
        {&FORMAT_WaveFormatEx, "WaveFormatEx"},
        {&FORMAT_MPEGVideo, "MPEGVideo"},
        {&FORMAT_MPEG2Video, "MPEG2Video"},
    };
    for (const auto& [id, name] : names)
        if (*id == guid) return name;
    // FOURCC subtypes print as their four characters.
    GUID base = GuidFromFourCC(0);
    if (std::memcmp(&guid.Data2, &base.Data2, sizeof(GUID) - sizeof(guid.Data1)) == 0) {
        std::string text;
        for (int i = 0; i < 4; ++i) {
            char c = char((guid.Data1 >> (8 * i)) & 0xFF);
            if (c < 0x20 || c > 0x7E) return GuidToString(guid);
            text += c;
        }
        return text;
    }
    return GuidToString(guid);
}

std::string DescribeMediaType(const AM_MEDIA_TYPE& mt)
{
    std::string text = MediaTypeName(mt.majortype) + " " + MediaTypeName(mt.subtype) + " " +
                       MediaTypeName(mt.formattype);
    char buffer[160];
    if (const BITMAPINFOHEADER* bi = GetBitmapInfoHeader(mt)) {
        REFERENCE_TIME frame = GetAvgTimePerFrame(mt);
        std::snprintf(buffer, sizeof buffer, " %dx%d %ubit", bi->biWidth, bi->biHeight, unsigned(bi->biBitCount));
        text += buffer;
        if (frame > 0) {
            std::snprintf(buffer, sizeof buffer, " %.3ffps", 1e7 / double(frame));
            text += buffer;
        }
        std::span<const BYTE> header = GetSequenceHeader(mt);
        if (!header.empty()) text += " header " + std::to_string(header.size()) + " bytes";
    } else if (const WAVEFORMATEX* wfx = GetWaveFormatEx(mt)) {
        std::snprintf(buffer, sizeof buffer, " tag 0x%04X %uHz %uch %ubit", unsigned(wfx->wFormatTag),
                      unsigned(wfx->nSamplesPerSec), unsigned(wfx->nChannels), unsigned(wfx->wBitsPerSample));
        text += buffer;
        if (wfx->cbSize) text += " extra " + std::to_string(wfx->cbSize) + " bytes";
    } else if (mt.cbFormat) {
        text += " format " + std::to_string(mt.cbFormat) + " bytes";
    }
    return text;
}
