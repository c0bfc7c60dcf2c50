#include "filter/vs_filter.h"

#include <chrono>
#include <cmath>
#include <thread>

#include <unistd.h>

#include "com/taskmem.h"
#include "kernels/worker_pool.h"

namespace {

constexpr DWORD kInterlaceFlagInterlaced = 0x1;

// The executable's file name: settings are kept per host program.
std::string HostFileName()
{
    char path[4096];
    ssize_t n = readlink("/proc/self/exe", path, sizeof(path) - 1);
    if (n <= 0) return {};
    std::string full(path, size_t(n));
    size_t slash = full.rfind('/');
    return slash == std::string::npos ? std::string() : full.substr(slash + 1);
}

uint32_t Even(uint32_t v) { return v & ~1u; }

}  // namespace

CVS_InputPin::CVS_InputPin(CVS_Filter* filter, HRESULT* phr)
    : CTransformInputPin("XForm In", filter, phr, u"In"), m_pScaler(filter)
{
}

HRESULT STDMETHODCALLTYPE CVS_InputPin::ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* mt)
{
    if (!connector || !mt) return E_POINTER;
    CAutoLock lock(m_pLock);
    if (IsStopped()) return CTransformInputPin::ReceiveConnection(connector, mt);
    if (!m_bCanReconnectWhenActive) return VFW_E_NOT_STOPPED;
    if (connector != m_Connected) return VFW_E_ALREADY_CONNECTED;
    CMediaType type(*mt);
    if (CheckMediaType(&type) != S_OK) return VFW_E_TYPE_NOT_ACCEPTED;
    CAutoLock receiving(&m_pScaler->m_csReceive);
    return SetMediaType(&type);
}

HRESULT CVS_InputPin::SetMediaType(const CMediaType* mt)
{
    const bool streaming = IsConnected() && !IsStopped() && m_pScaler->m_pOutput->IsConnected();
    if (!streaming) return CTransformInputPin::SetMediaType(mt);
    CMediaType previous = m_mt;
    HRESULT hr = CBaseInputPin::SetMediaType(mt);
    if (SUCCEEDED(hr)) hr = m_pScaler->FollowInputType(*mt);
    if (SUCCEEDED(hr)) return hr;
    CBaseInputPin::SetMediaType(&previous);
    return VFW_E_TYPE_NOT_ACCEPTED;
}

CVS_OutputPin::CVS_OutputPin(CVS_Filter* filter, HRESULT* phr) : CTransformOutputPin("XForm Out", filter, phr, u"Out")
{
}

CUnknown* CVS_Filter::CreateInstance(IUnknown* outer, HRESULT* phr)
{
    auto* filter = new (std::nothrow) CVS_Filter(outer);
    if (!filter && phr) *phr = E_OUTOFMEMORY;
    return filter;
}

CVS_Filter::CVS_Filter(IUnknown* outer)
    : CTransformFilter("Tolvane Video Scaler", outer, CLSID_TolvaneVideoScaler),
      m_config(GetOwner(), [this](const std::vector<GUID>& ids) { return ApplyChangeSet(ids); })
{
    std::string host = HostFileName();
    if (!host.empty()) {
        m_registryKey = "Software\\Tolvane\\Tolvane Video Scaler\\" + host;
        m_config.LoadFromRegistry(HKEY_CURRENT_USER, Utf16FromUtf8(m_registryKey).c_str(), FALSE);
    }
}

CVS_Filter::~CVS_Filter()
{
    if (!m_registryKey.empty())
        m_config.SaveToRegistry(HKEY_CURRENT_USER, Utf16FromUtf8(m_registryKey).c_str(), FALSE);
}

bool CVS_Filter::CreatePins()
{
    HRESULT hr = S_OK;
    m_pInput = new CVS_InputPin(this, &hr);
    m_pOutput = new CVS_OutputPin(this, &hr);
    return SUCCEEDED(hr);
}

HRESULT CVS_Filter::NonDelegatingQueryInterface(REFIID iid, void** ppv)
{
    if (!ppv) return E_POINTER;
    if (iid == IID_IPersist || iid == IID_IPersistStream || iid == IID_IModuleConfig)
        return GetInterface(static_cast<IModuleConfig*>(&m_config), ppv);
    if (iid == IID_ISpecifyPropertyPages) return GetInterface(static_cast<ISpecifyPropertyPages*>(this), ppv);
    return CTransformFilter::NonDelegatingQueryInterface(iid, ppv);
}

HRESULT CVS_Filter::GetPages(CAUUID* pages)
{
    if (!pages) return E_POINTER;
    pages->pElems = static_cast<GUID*>(CoTaskMemAlloc(2 * sizeof(GUID)));
    if (!pages->pElems) {
        pages->cElems = 0;
        return E_OUTOFMEMORY;
    }
    pages->cElems = 2;
    pages->pElems[0] = CLSID_ScalvoAboutPage;
    pages->pElems[1] = CLSID_ScalvoMainPage;
    return S_OK;
}

// ---- negotiation

HRESULT CVS_Filter::CheckInputType(const CMediaType* mt)
{
    const uint16_t code = FormatCodeOf(*mt);
    if (code == kNoFormatCode) return VFW_E_TYPE_NOT_ACCEPTED;
    // Sizes the kernels can address and rows that fit their stride.
    const BITMAPINFOHEADER& bmi = *GetBitmapInfoHeader(*mt);
    const int64_t height = std::abs(int64_t(bmi.biHeight));
    if (bmi.biWidth <= 0 || height == 0 || bmi.biWidth > 65535 || height > 65535) return VFW_E_TYPE_NOT_ACCEPTED;
    const PixelFormat format = FormatOfCode(code);
    if (LineStride(format, bmi) < int64_t(bmi.biWidth) * InfoOf(format).bitCount / 8 &&
        format != PixelFormat::YV12 && format != PixelFormat::YV16)
        return VFW_E_TYPE_NOT_ACCEPTED;
    return S_OK;
}

HRESULT CVS_Filter::CheckTransform(const CMediaType* in, const CMediaType* out)
{
    HRESULT hr = CheckInputType(in);
    if (hr != S_OK) return hr;
    if (out->majortype != MEDIATYPE_Video) return VFW_E_TYPE_NOT_ACCEPTED;
    if (out->formattype != FORMAT_VideoInfo && out->formattype != FORMAT_VideoInfo2) return E_INVALIDARG;
    // An output the converter has no writer for would be accepted and then never filled.
    return CheckInputType(out) == S_OK ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT CVS_Filter::GetMediaType(int position, CMediaType* mt)
{
    if (position < 0) return E_INVALIDARG;
    const CMediaType& input = m_pInput->CurrentMediaType();
    if (position == 0) {
        m_candidates.clear();
        auto add = [this](uint16_t code) {
            if (std::find(m_candidates.begin(), m_candidates.end(), code) == m_candidates.end())
                m_candidates.push_back(code);
        };
        const PixelFormat inFormat = FormatOfCode(FormatCodeOf(input));
        add(CodeOf(inFormat, true));
        add(CodeOf(inFormat, false));
        ComPtr<IEnumMediaTypes> types;
        if (IPin* upstream = m_pInput->GetConnected(); upstream && SUCCEEDED(upstream->EnumMediaTypes(types.Put()))) {
            AM_MEDIA_TYPE* offered = nullptr;
            while (types->Next(1, &offered, nullptr) == S_OK) {
                uint16_t code = FormatCodeOf(*offered);
                DeleteMediaType(offered);
                if (code == kNoFormatCode) continue;
                add(CodeOf(FormatOfCode(code), true));
                add(CodeOf(FormatOfCode(code), false));
            }
        }
        if (IsOn(m_config.Config().colorConversion))
            for (uint16_t code : ConversionRow(inFormat)) add(code);
    }
    if (size_t(position) >= m_candidates.size()) return VFW_S_NO_MORE_ITEMS;
    m_outputSize = OutputSize(m_config.Config(), m_outputSize);
    return BuildOutputType(m_candidates[position], input, m_config.Config(), m_outputSize, mt);
}

HRESULT CVS_Filter::DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request)
{
    const CMediaType& mt = m_pOutput->CurrentMediaType();
    const BITMAPINFOHEADER* bmi = GetBitmapInfoHeader(mt);
    if (!bmi) return E_UNEXPECTED;
    const FormatDescriptor out = DescribeFormat(FormatCodeOf(mt), false);
    const uint64_t frame = std::max<uint64_t>(
        ImageSize(bmi->biWidth, std::abs(bmi->biHeight), bmi->biBitCount),
        PictureBytes(out, LineStride(out.Format(), *bmi), std::abs(bmi->biHeight)));
    request->cBuffers = std::max<LONG>(request->cBuffers, 1);
    request->cbBuffer = std::max<LONG>(request->cbBuffer, LONG(frame));
    request->cbAlign = std::max<LONG>(request->cbAlign, 1);
    ALLOCATOR_PROPERTIES actual{};
    HRESULT hr = allocator->SetProperties(request, &actual);
    if (FAILED(hr)) return hr;
    if (actual.cBuffers < request->cBuffers || actual.cbBuffer < request->cbBuffer || actual.cbAlign < request->cbAlign)
        return E_FAIL;
    return S_OK;
}

AspectRatio CVS_Filter::SourceAspect(uint32_t width, uint32_t height) const
{
    uint64_t x = width, y = height;
    ComPtr<IEnumMediaTypes> types;
    IPin* upstream = m_pInput->GetConnected();
    if (upstream && SUCCEEDED(upstream->EnumMediaTypes(types.Put()))) {
        AM_MEDIA_TYPE* offered = nullptr;
        while (types->Next(1, &offered, nullptr) == S_OK) {
            const VIDEOINFOHEADER2* vih = GetVideoInfoHeader2(*offered);
            bool found = vih != nullptr;
            if (vih && vih->dwPictAspectRatioX && vih->dwPictAspectRatioY) {
                x = vih->dwPictAspectRatioX;
                y = vih->dwPictAspectRatioY;
            }
            DeleteMediaType(offered);
            if (found) break;
        }
    }
    AspectRatio ar = Reduce(x, y);
    return {std::min<uint32_t>(ar.x, 65535), std::min<uint32_t>(ar.y, 65535)};
}

void CVS_Filter::DescribeInput(const CMediaType& mt)
{
    const BITMAPINFOHEADER& bmi = *GetBitmapInfoHeader(mt);
    const uint16_t width = uint16_t(bmi.biWidth), height = uint16_t(std::abs(bmi.biHeight));
    SCALVO_Config d = m_config.Config();
    if (IsOn(d.croppingOn) && d.sourceWidth && d.sourceHeight && (width != d.sourceWidth || height != d.sourceHeight)) {
        auto scale = [](uint16_t crop, double ratio) { return uint16_t(Even(uint32_t(crop * ratio + 0.5))); };
        const double rx = double(width) / d.sourceWidth, ry = double(height) / d.sourceHeight;
        d.cropLeft = scale(d.cropLeft, rx);
        d.cropRight = scale(d.cropRight, rx);
        d.cropTop = scale(d.cropTop, ry);
        d.cropBottom = scale(d.cropBottom, ry);
    }
    const VIDEOINFOHEADER2* vih2 = GetVideoInfoHeader2(mt);
    const AspectRatio ar = SourceAspect(width, height);
    d.sourceWidth = width;
    d.sourceHeight = height;
    d.sourceInterlace = vih2 && (vih2->dwInterlaceFlags & kInterlaceFlagInterlaced) ? -1 : 0;
    d.sourceSubtype = uint16_t(FormatCodeOf(mt) / 2 + 1);
    d.sourceArWidth = uint16_t(ar.x);
    d.sourceArHeight = uint16_t(ar.y);
    if (d.resizedWidth == 0) d.resizedWidth = width;
    if (d.resizedHeight == 0) d.resizedHeight = height;
    if (d.targetArWidth == 0.0) d.targetArWidth = ar.x;
    if (d.targetArHeight == 0.0) d.targetArHeight = ar.y;
    StoreDescription(d);
}

void CVS_Filter::StoreDescription(const SCALVO_Config& d)
{
    const std::pair<GUID, uint16_t> words[] = {
        {SCALVO_PARAM_LEFT_CROPPING, d.cropLeft},         {SCALVO_PARAM_RIGHT_CROPPING, d.cropRight},
        {SCALVO_PARAM_TOP_CROPPING, d.cropTop},           {SCALVO_PARAM_BOTTOM_CROPPING, d.cropBottom},
        {SCALVO_PARAM_SOURCE_FRAME_WIDTH, d.sourceWidth}, {SCALVO_PARAM_SOURCE_FRAME_HEIGHT, d.sourceHeight},
        {SCALVO_PARAM_SOURCE_SUBTYPE, d.sourceSubtype},   {SCALVO_PARAM_SOURCE_AR_WIDTH, d.sourceArWidth},
        {SCALVO_PARAM_SOURCE_AR_HEIGHT, d.sourceArHeight}, {SCALVO_PARAM_RESIZED_WIDTH, d.resizedWidth},
        {SCALVO_PARAM_RESIZED_HEIGHT, d.resizedHeight}};
    for (const auto& [id, value] : words) m_config.Store<VT_UI2>(id, value);
    m_config.Store<VT_I2>(SCALVO_PARAM_SOURCE_INTERLACE, d.sourceInterlace);
    m_config.Store<VT_R8>(SCALVO_PARAM_TARGET_AR_WIDTH, d.targetArWidth);
    m_config.Store<VT_R8>(SCALVO_PARAM_TARGET_AR_HEIGHT, d.targetArHeight);
}

HRESULT CVS_Filter::SetMediaType(PIN_DIRECTION dir, const CMediaType* mt)
{
    const BITMAPINFOHEADER& bmi = *GetBitmapInfoHeader(*mt);
    const uint16_t code = FormatCodeOf(*mt);
    const PixelFormat format = FormatOfCode(code);
    const bool bottomUp = bmi.biHeight > 0;
    if (dir == PINDIR_INPUT) {
        DescribeInput(*mt);
        m_inFormat = DescribeFormat(code, bottomUp);
        m_inStride = LineStride(format, bmi);
        if (!m_pOutput->IsConnected()) return S_OK;
        if (IsStopped()) return ReconnectPin(m_pOutput, nullptr);
        return RenegotiateOutput();
    }
    m_outFormat = DescribeFormat(code, bottomUp);
    m_outStride = LineStride(format, bmi);
    m_outputSize = {uint32_t(bmi.biWidth), uint32_t(std::abs(bmi.biHeight))};
    if (!VbiModeValid(m_config.Config().vbiMode)) m_config.Store<VT_UINT>(SCALVO_PARAM_VBI_MODE, kVbiNone);
    RunGeometryStep();
    return S_OK;
}

HRESULT CVS_Filter::CompleteConnect(PIN_DIRECTION dir, IPin* receivePin)
{
    if (dir != PINDIR_OUTPUT) return S_OK;
    const CMediaType& input = m_pInput->CurrentMediaType();
    const PixelFormat wanted = FormatOfCode(FormatCodeOf(m_pOutput->CurrentMediaType()));
    if (wanted == FormatOfCode(FormatCodeOf(input))) return S_OK;
    // Rather than converting, ask upstream for the output's format if it offers it.
    ComPtr<IEnumMediaTypes> types;
    if (SUCCEEDED(m_pInput->GetConnected()->EnumMediaTypes(types.Put()))) {
        AM_MEDIA_TYPE* offered = nullptr;
        while (types->Next(1, &offered, nullptr) == S_OK) {
            CMediaType candidate(*offered);
            DeleteMediaType(offered);
            uint16_t code = FormatCodeOf(candidate);
            if (code == kNoFormatCode || FormatOfCode(code) != wanted || CheckInputType(&candidate) != S_OK) continue;
            if (m_pInput->QueryAccept(&candidate) == S_OK && SUCCEEDED(ReconnectPin(m_pInput, &candidate))) return S_OK;
            break;
        }
    }
    return IsOn(m_config.Config().colorConversion) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT CVS_Filter::BreakConnect(PIN_DIRECTION dir)
{
    if (dir == PINDIR_INPUT) {
        for (const GUID& id : {SCALVO_PARAM_SOURCE_FRAME_WIDTH, SCALVO_PARAM_SOURCE_FRAME_HEIGHT,
                               SCALVO_PARAM_SOURCE_AR_WIDTH, SCALVO_PARAM_SOURCE_AR_HEIGHT, SCALVO_PARAM_SOURCE_SUBTYPE})
            m_config.Store<VT_UI2>(id, 0);
    }
    return S_OK;
}

bool CVS_Filter::BothConnected() const
{
    return m_pInput && m_pOutput && m_pInput->IsConnected() && m_pOutput->IsConnected();
}

bool CVS_Filter::VbiModeValid(uint32_t mode) const
{
    const SCALVO_Config& c = m_config.Config();
    auto vbiType = [](CBasePin* pin) {
        const BITMAPINFOHEADER* bmi = GetBitmapInfoHeader(pin->CurrentMediaType());
        return bmi && IsVbiFrame(uint32_t(bmi->biWidth), uint32_t(std::abs(bmi->biHeight)));
    };
    const bool inVbi = !m_pInput || !m_pInput->IsConnected() || vbiType(m_pInput);
    const bool outVbi = !m_pOutput || !m_pOutput->IsConnected() || vbiType(m_pOutput) ||
                        (IsOn(c.resizingOn) && IsVbiFrame(c.resizedWidth, c.resizedHeight));
    switch (mode) {
    case kVbiNone: return true;
    case kVbiRemove: return inVbi;
    case kVbiAdd: return outVbi;
    case kVbiCopy: return inVbi && outVbi;
    default: return false;
    }
}

void CVS_Filter::RunGeometryStep()
{
    if (!m_pInput || !m_pInput->IsConnected() || m_outFormat.code == kNoFormatCode) return;
    const BITMAPINFOHEADER* in = GetBitmapInfoHeader(m_pInput->CurrentMediaType());
    const BITMAPINFOHEADER* out = GetBitmapInfoHeader(m_pOutput->CurrentMediaType());
    if (!in || !out) return;
    const SCALVO_Config& c = m_config.Config();
    GeometryInput input;
    input.srcWidth = uint32_t(in->biWidth);
    input.srcHeight = uint32_t(std::abs(in->biHeight));
    input.outWidth = uint32_t(out->biWidth);
    input.outHeight = uint32_t(std::abs(out->biHeight));
    input.in = m_inFormat;
    input.out = m_outFormat;
    input.vbiActive = c.vbiMode != kVbiNone && VbiModeValid(c.vbiMode);
    m_converter.Configure(c, input, c.affinityMask);
}

// ---- parameter changes

HRESULT CVS_Filter::ApplyChangeSet(const std::vector<GUID>& ids)
{
    if (m_State == State_Paused) return VFW_E_WRONG_STATE;
    CAutoLock lock(&m_csReceive);
    // The live values change under the values lock too, for readers outside the filter lock.
    std::unique_lock values(m_config.ValuesLock());
    auto has = [&ids](std::initializer_list<GUID> group) {
        for (const GUID& g : group)
            if (std::find(ids.begin(), ids.end(), g) != ids.end()) return true;
        return false;
    };
    SCALVO_Config& c = m_config.Live();
    IMC_SCALVO& p = m_config;
    bool outputChange = false, geometryChange = false, cropChange = false;

    if (has({SCALVO_PARAM_INTERLACE_STATE})) {
        c.interlaceState = p.Incoming<VT_UINT>(SCALVO_PARAM_INTERLACE_STATE, ids);
        outputChange = true;
    }
    if (has({SCALVO_PARAM_CROPPING_STATE, SCALVO_PARAM_LEFT_CROPPING, SCALVO_PARAM_TOP_CROPPING,
             SCALVO_PARAM_RIGHT_CROPPING, SCALVO_PARAM_BOTTOM_CROPPING})) {
        c.croppingOn = p.Incoming<VT_I2>(SCALVO_PARAM_CROPPING_STATE, ids);
        for (const GUID& id : {SCALVO_PARAM_LEFT_CROPPING, SCALVO_PARAM_TOP_CROPPING, SCALVO_PARAM_RIGHT_CROPPING,
                               SCALVO_PARAM_BOTTOM_CROPPING})
            p.Store<VT_UI2>(id, uint16_t(Even(p.Incoming<VT_UI2>(id, ids))));
        cropChange = true;
    }
    if (has({SCALVO_PARAM_RESIZING_STATE, SCALVO_PARAM_RESIZED_WIDTH, SCALVO_PARAM_RESIZED_HEIGHT})) {
        c.resizingOn = p.Incoming<VT_I2>(SCALVO_PARAM_RESIZING_STATE, ids);
        p.Store<VT_UI2>(SCALVO_PARAM_RESIZED_WIDTH, uint16_t(Even(p.Incoming<VT_UI2>(SCALVO_PARAM_RESIZED_WIDTH, ids))));
        p.Store<VT_UI2>(SCALVO_PARAM_RESIZED_HEIGHT,
                        uint16_t(Even(p.Incoming<VT_UI2>(SCALVO_PARAM_RESIZED_HEIGHT, ids))));
        outputChange = true;
    }
    if (has({SCALVO_PARAM_RESIZING_METHOD})) {
        c.resizingMethod = p.Incoming<VT_UINT>(SCALVO_PARAM_RESIZING_METHOD, ids);
        geometryChange = true;
    }
    if (has({SCALVO_PARAM_AR_CHANGE_STATE})) {
        c.arChangeOn = p.Incoming<VT_I2>(SCALVO_PARAM_AR_CHANGE_STATE, ids);
        outputChange = true;
    }
    if (has({SCALVO_PARAM_TARGET_AR_WIDTH, SCALVO_PARAM_TARGET_AR_HEIGHT})) {
        double tw = p.Incoming<VT_R8>(SCALVO_PARAM_TARGET_AR_WIDTH, ids);
        double th = p.Incoming<VT_R8>(SCALVO_PARAM_TARGET_AR_HEIGHT, ids);
        if (tw == 0.0 || th == 0.0) tw = th = 1.0;
        p.Store<VT_R8>(SCALVO_PARAM_TARGET_AR_WIDTH, tw);
        p.Store<VT_R8>(SCALVO_PARAM_TARGET_AR_HEIGHT, th);
        outputChange = true;
    }
    if (has({SCALVO_PARAM_AR_METHOD})) {
        c.arMethod = p.Incoming<VT_UINT>(SCALVO_PARAM_AR_METHOD, ids);
        geometryChange = true;
    }
    if (has({SCALVO_PARAM_VBI_MODE})) {
        uint32_t mode = p.Incoming<VT_UINT>(SCALVO_PARAM_VBI_MODE, ids);
        if (!VbiModeValid(mode)) return E_INVALIDARG;
        c.vbiMode = mode;
        geometryChange = true;
    }
    if (has({SCALVO_PARAM_COLOR_CONVERSION})) {
        int16_t on = p.Incoming<VT_I2>(SCALVO_PARAM_COLOR_CONVERSION, ids);
        if (!IsOn(on) && BothConnected() && m_inFormat.Format() != m_outFormat.Format()) {
            if (m_State == State_Running) return VFW_E_WRONG_STATE;
            outputChange = true;
        }
        c.colorConversion = on;
    }
    if (has({SCALVO_PARAM_AFFINITY_MASK})) {
        uint32_t mask = p.Incoming<VT_UI4>(SCALVO_PARAM_AFFINITY_MASK, ids);
        if (mask <= ProcessAffinityMask()) {
            c.affinityMask = mask;
            geometryChange = true;
        } else {
            p.Store<VT_UI4>(SCALVO_PARAM_AFFINITY_MASK, c.affinityMask);
        }
    }
    // The output size does not depend on the crop while resizing is on.
    if (cropChange) (IsOn(c.resizingOn) ? geometryChange : outputChange) = true;
    values.unlock();

    if (!BothConnected()) return S_OK;
    if (outputChange) return m_State == State_Running ? RenegotiateOutput() : ReconnectPin(m_pOutput, nullptr);
    if (geometryChange) RunGeometryStep();
    return S_OK;
}

HRESULT CVS_Filter::FollowInputType(const CMediaType& mt)
{
    // What the new type changes, kept until the output has followed it.
    const SCALVO_Config described = m_config.Config();
    const FormatDescriptor format = m_inFormat;
    const int64_t stride = m_inStride;
    const FrameSize outputSize = m_outputSize;
    HRESULT hr = SetMediaType(PINDIR_INPUT, &mt);
    if (SUCCEEDED(hr)) return hr;
    StoreDescription(described);
    m_inFormat = format;
    m_inStride = stride;
    m_outputSize = outputSize;
    return hr;
}

HRESULT CVS_Filter::RenegotiateOutput()
{
    m_outputSize = OutputSize(m_config.Config(), m_outputSize);
    CMediaType mt;
    HRESULT hr = BuildOutputType(m_outFormat.code, m_pInput->CurrentMediaType(), m_config.Config(), m_outputSize, &mt);
    if (FAILED(hr)) return hr;
    const BITMAPINFOHEADER* current = GetBitmapInfoHeader(m_pOutput->CurrentMediaType());
    const bool sameSize = current && uint32_t(current->biWidth) == m_outputSize.width &&
                          uint32_t(std::abs(current->biHeight)) == m_outputSize.height;
    if (sameSize && mt == m_pOutput->CurrentMediaType()) {
        RunGeometryStep();
        return S_OK;
    }
    IPin* downstream = m_pOutput->GetConnected();
    ComPtr<IPinConnection> dynamic;
    downstream->QueryInterface(IID_IPinConnection, dynamic.PutVoid());
    hr = dynamic ? dynamic->DynamicQueryAccept(&mt) : downstream->QueryAccept(&mt);
    if (hr != S_OK) return VFW_E_TYPE_NOT_ACCEPTED;
    // Downstream may still hold samples of the old type; give it a second to return them.
    for (int attempt = 0; attempt < 1000; ++attempt) {
        hr = downstream->ReceiveConnection(m_pOutput, &mt);
        if (hr != VFW_E_BUFFERS_OUTSTANDING) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (FAILED(hr)) return hr;
    hr = m_pOutput->SetMediaType(&mt);
    if (FAILED(hr) || sameSize) return hr;
    return RenegotiateAllocator();
}

HRESULT CVS_Filter::RenegotiateAllocator()
{
    IMemInputPin* input = m_pOutput->InputPin();
    IMemAllocator* allocator = m_pOutput->Allocator();
    if (!input || !allocator) return VFW_E_NO_ALLOCATOR;
    ALLOCATOR_PROPERTIES request{};
    input->GetAllocatorRequirements(&request);
    request.cBuffers = std::max<LONG>(request.cBuffers, 1);
    HRESULT hr = allocator->Decommit();
    if (SUCCEEDED(hr)) hr = DecideBufferSize(allocator, &request);
    if (SUCCEEDED(hr)) hr = allocator->Commit();
    if (SUCCEEDED(hr)) hr = input->NotifyAllocator(allocator, FALSE);
    return hr;
}

// ---- frames

HRESULT CVS_Filter::Transform(IMediaSample* in, IMediaSample* out)
{
    AM_MEDIA_TYPE* changed = nullptr;
    if (out->GetMediaType(&changed) == S_OK && changed) {
        CMediaType adopted(*changed);
        DeleteMediaType(changed);
        if (CheckTransform(&m_pInput->CurrentMediaType(), &adopted) != S_OK) return VFW_E_TYPE_NOT_ACCEPTED;
        HRESULT hr = m_pOutput->SetMediaType(&adopted);
        if (FAILED(hr)) return hr;
    }
    if (!m_converter.Configured()) return S_FALSE;
    BYTE* src = nullptr;
    BYTE* dst = nullptr;
    if (FAILED(in->GetPointer(&src)) || FAILED(out->GetPointer(&dst))) return E_POINTER;
    const BITMAPINFOHEADER& inBmi = *GetBitmapInfoHeader(m_pInput->CurrentMediaType());
    const BITMAPINFOHEADER& outBmi = *GetBitmapInfoHeader(m_pOutput->CurrentMediaType());
    // The converter works for the types it was configured with, and only for them.
    const GeometryInput& geometry = m_converter.Input();
    if (geometry.in.code != m_inFormat.code || geometry.out.code != m_outFormat.code ||
        geometry.srcWidth != uint32_t(inBmi.biWidth) || geometry.srcHeight != uint32_t(std::abs(inBmi.biHeight)) ||
        geometry.outWidth != uint32_t(outBmi.biWidth) || geometry.outHeight != uint32_t(std::abs(outBmi.biHeight)))
        return S_FALSE;
    const uint64_t inBytes = PictureBytes(m_inFormat, m_inStride, std::abs(inBmi.biHeight));
    const uint64_t outBytes = PictureBytes(m_outFormat, m_outStride, std::abs(outBmi.biHeight));
    // A short sample is dropped rather than read or written past its end.
    if (uint64_t(in->GetActualDataLength()) < inBytes || uint64_t(out->GetSize()) < outBytes) return S_FALSE;
    m_converter.Convert(src, m_inStride, dst, m_outStride);
    out->SetActualDataLength(LONG(outBytes));
    out->SetSyncPoint(TRUE);
    return S_OK;
}
