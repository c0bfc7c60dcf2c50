// CVS_Filter: the video scaler as a transform filter. It negotiates formats on its pins, owns
// the frame converter, and applies parameter change sets from its configuration object
// between frames (under the receive lock).
#pragma once

#include <memory>
#include <vector>

#include "convert/frame_converter.h"
#include "dshow/transfrm.h"
#include "filter/output_type.h"
#include "filter/scalvo_params.h"

constexpr CLSID CLSID_ScalvoAboutPage = {0xE60D7444, 0x96BF, 0x4181, {0xB1, 0xDB, 0x80, 0xD3, 0x4A, 0xAC, 0x9C, 0xB2}};
constexpr CLSID CLSID_ScalvoMainPage = {0x41E18105, 0x39AC, 0x4D60, {0x9C, 0x1D, 0x48, 0xA2, 0xAD, 0x10, 0x48, 0xC5}};

class CVS_Filter;

class CVS_InputPin : public CTransformInputPin {
public:
    CVS_InputPin(CVS_Filter* filter, HRESULT* phr);

    // While the graph runs, a new type for the same connection (when the pin allows that).
    HRESULT STDMETHODCALLTYPE ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* mt) override;
    // A type the output cannot follow leaves the old type in place.
    HRESULT SetMediaType(const CMediaType* mt) override;

private:
    CVS_Filter* m_pScaler;
};

class CVS_OutputPin : public CTransformOutputPin {
public:
    CVS_OutputPin(CVS_Filter* filter, HRESULT* phr);
};

class CVS_Filter : public CTransformFilter, public ISpecifyPropertyPages {
    friend class CVS_InputPin;

public:
    static CUnknown* CreateInstance(IUnknown* outer, HRESULT* phr);
    ~CVS_Filter() override;

    DECLARE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void** ppv) override;
    HRESULT STDMETHODCALLTYPE GetPages(CAUUID* pages) override;

    HRESULT CheckInputType(const CMediaType* mt) override;
    HRESULT CheckTransform(const CMediaType* in, const CMediaType* out) override;
    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;
    HRESULT GetMediaType(int position, CMediaType* mt) override;
    HRESULT SetMediaType(PIN_DIRECTION dir, const CMediaType* mt) override;
    HRESULT CompleteConnect(PIN_DIRECTION dir, IPin* receivePin) override;
    HRESULT BreakConnect(PIN_DIRECTION dir) override;
    HRESULT Transform(IMediaSample* in, IMediaSample* out) override;

protected:
    bool CreatePins() override;

private:
    explicit CVS_Filter(IUnknown* outer);

    // The configuration object's apply hook.
    HRESULT ApplyChangeSet(const std::vector<GUID>& ids);
    bool VbiModeValid(uint32_t mode) const;
    bool BothConnected() const;
    // Describes the connected input in the read-only parameters (and the values that follow
    // the input: crop, resized size, target aspect ratio).
    void DescribeInput(const CMediaType& mt);
    void StoreDescription(const SCALVO_Config& described);
    AspectRatio SourceAspect(uint32_t width, uint32_t height) const;
    // Frame geometry for the current types and configuration; resamplers recreated.
    void RunGeometryStep();
    // A new input type while streaming: the output follows it, or everything stays as it was.
    HRESULT FollowInputType(const CMediaType& mt);
    // A new output type while running: asks downstream, then adopts it and its buffers.
    HRESULT RenegotiateOutput();
    HRESULT RenegotiateAllocator();

    IMC_SCALVO m_config;
    FormatDescriptor m_inFormat, m_outFormat;
    int64_t m_inStride = 0, m_outStride = 0;
    FrameSize m_outputSize;
    std::vector<uint16_t> m_candidates;
    FrameConverter m_converter;
    std::string m_registryKey;
};
