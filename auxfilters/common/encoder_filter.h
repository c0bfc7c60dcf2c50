// The part the H.264 and the AAC encoder filters share: an encoder core made when the input
// type is set and dropped when the input disconnects, one output type that the core
// describes, and delivery of the core's frames as samples of their own that carry the
// encoder's presentation and decoding times.
#pragma once

#include <vector>

#include "dshow/transfrm.h"
#include "encoded_frame.h"

class CEncoderFilter : public CTransformFilter {
public:
    HRESULT CheckInputType(const CMediaType* mt) override;
    HRESULT SetMediaType(PIN_DIRECTION dir, const CMediaType* mt) override;
    HRESULT BreakConnect(PIN_DIRECTION dir) override;
    HRESULT GetMediaType(int position, CMediaType* mt) override;
    HRESULT CheckTransform(const CMediaType* in, const CMediaType* out) override;
    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;
    HRESULT Receive(IMediaSample* sample) override;
    HRESULT EndOfStream() override;

protected:
    CEncoderFilter(const char* name, IUnknown* outer, REFCLSID clsid, const GUID& outputMajor,
                   const GUID& outputSubtype);

    // Whether the core could take this input type; nothing is opened.
    virtual bool AcceptsInput(const CMediaType& mt) = 0;
    // Makes the core for this input type (false: refused) or drops it; under the receive lock.
    virtual bool OpenEncoder(const CMediaType& mt) = 0;
    virtual void CloseEncoder() = 0;
    virtual bool EncoderOpen() const = 0;
    // The output type, once the core is open.
    virtual void FillOutputType(CMediaType* mt) = 0;
    // The time the input sample covers, to stamp a following sample that carries no time.
    virtual REFERENCE_TIME InputDuration(size_t bytes) const = 0;
    // Encodes one input sample starting at `start`; false when the core failed on it.
    virtual bool Encode(const BYTE* data, size_t size, REFERENCE_TIME start, bool timed,
                        std::vector<EncodedFrame>* out) = 0;
    // Hands out what the core still holds at the end of the stream.
    virtual void Flush(std::vector<EncodedFrame>* out) = 0;
    // Whether output samples carry a stop time. Without one a sample is known by its start
    // alone, which is then the time a consumer stamps and orders it by.
    virtual bool StampsStopTime() const { return true; }

    bool CreatePins() override;

private:
    friend class CEncoderInputPin;
    // A sample brought a type other than the connection's: the stream ends here, with what
    // the core still holds, and the graph hears of the error.
    HRESULT EndOnTypeChange();
    HRESULT Deliver(const std::vector<EncodedFrame>& frames);

    const GUID outputMajor_;
    const GUID outputSubtype_;
    REFERENCE_TIME nextTime_ = 0;  // streaming thread only
};
