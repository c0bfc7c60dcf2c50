// Media-type helpers: CMediaType (an AM_MEDIA_TYPE that owns its format block), the free/copy
// functions with their Windows semantics, and bounds-checked readers of format blocks.
#pragma once

#include <span>
#include <string>

#include "formats.h"
#include "uuids.h"

// Frees the format block and releases pUnk; the structure itself stays.
void FreeMediaType(AM_MEDIA_TYPE& mt);
// FreeMediaType, then CoTaskMemFree of the structure (for types handed out by enumerators).
void DeleteMediaType(AM_MEDIA_TYPE* mt);
// Deep copy into an uninitialised target; E_OUTOFMEMORY leaves target without a format block.
HRESULT CopyMediaType(AM_MEDIA_TYPE* target, const AM_MEDIA_TYPE* source);
// CoTaskMemAlloc'd deep copy, or nullptr.
AM_MEDIA_TYPE* CreateMediaType(const AM_MEDIA_TYPE* source);

class CMediaType : public AM_MEDIA_TYPE {
public:
    CMediaType();
    explicit CMediaType(const GUID* majorType);
    CMediaType(const AM_MEDIA_TYPE& other);
    CMediaType(const CMediaType& other);
    CMediaType(CMediaType&& other) noexcept;
    ~CMediaType();

    CMediaType& operator=(const AM_MEDIA_TYPE& other);
    CMediaType& operator=(const CMediaType& other);
    CMediaType& operator=(CMediaType&& other) noexcept;
    // Same major type, subtype, format type and format bytes.
    bool operator==(const CMediaType& other) const;
    bool operator!=(const CMediaType& other) const { return !(*this == other); }

    HRESULT Set(const CMediaType& other);
    HRESULT Set(const AM_MEDIA_TYPE& other);
    BOOL IsValid() const { return majortype != GUID_NULL; }

    const GUID* Type() const { return &majortype; }
    void SetType(const GUID* type) { majortype = *type; }
    const GUID* Subtype() const { return &subtype; }
    void SetSubtype(const GUID* type) { subtype = *type; }
    const GUID* FormatType() const { return &formattype; }
    void SetFormatType(const GUID* type) { formattype = *type; }

    BOOL IsFixedSize() const { return bFixedSizeSamples; }
    BOOL IsTemporalCompressed() const { return bTemporalCompression; }
    ULONG GetSampleSize() const { return bFixedSizeSamples ? lSampleSize : 0; }
    void SetSampleSize(ULONG size);
    void SetVariableSize() { bFixedSizeSamples = FALSE; }
    void SetTemporalCompression(BOOL compressed) { bTemporalCompression = compressed; }

    ULONG FormatLength() const { return cbFormat; }
    BYTE* Format() const { return pbFormat; }
    BOOL SetFormat(const BYTE* format, ULONG length);
    // A zeroed block of `length` bytes (existing block replaced), or nullptr.
    BYTE* AllocFormatBuffer(ULONG length);
    // Keeps the leading bytes of the current block.
    BYTE* ReallocFormatBuffer(ULONG length);
    void ResetFormatBuffer();
    void InitMediaType();

    // GUID_NULL fields of `partial` match anything, as in connection requests.
    BOOL MatchesPartial(const CMediaType* partial) const;
    BOOL IsPartiallySpecified() const;
};

// True when every field a connection needs is set (no GUID_NULL major/sub/format type).
bool IsFullySpecified(const AM_MEDIA_TYPE& mt);

// Bounds-checked readers: nullptr (or empty) when the format type does not carry the
// structure or the block is too short for it.
const BITMAPINFOHEADER* GetBitmapInfoHeader(const AM_MEDIA_TYPE& mt);
const VIDEOINFOHEADER* GetVideoInfoHeader(const AM_MEDIA_TYPE& mt);
const VIDEOINFOHEADER2* GetVideoInfoHeader2(const AM_MEDIA_TYPE& mt);
// AvgTimePerFrame of any video format block, 0 when there is none.
REFERENCE_TIME GetAvgTimePerFrame(const AM_MEDIA_TYPE& mt);
// The WAVEFORMATEX with its cbSize extra bytes inside the block.
const WAVEFORMATEX* GetWaveFormatEx(const AM_MEDIA_TYPE& mt);
std::span<const BYTE> GetWaveFormatExtra(const AM_MEDIA_TYPE& mt);
// The sequence header of an MPEG1VIDEOINFO or MPEG2VIDEOINFO block.
std::span<const BYTE> GetSequenceHeader(const AM_MEDIA_TYPE& mt);
// Bytes of one frame as the bitmap header describes it (DIB rows padded to 4 bytes), 0 when
// the header is missing or describes an impossible size.
ULONG GetBitmapFrameSize(const BITMAPINFOHEADER& bi);

// Readable names for diagnostics: "Video", "YUY2", "RGB24", "VideoInfo", or the braced GUID.
std::string MediaTypeName(REFGUID guid);
// One line: major/subtype/format and the main format fields ("Video YUY2 VideoInfo 640x480 ...").
std::string DescribeMediaType(const AM_MEDIA_TYPE& mt);
