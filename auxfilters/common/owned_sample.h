// A media sample that owns its bytes instead of borrowing them from an allocator pool. The
// encoders and the multiplexer produce a variable number of outputs of variable size per
// input, so they deliver these rather than fixed-size pool buffers. The sample also answers
// IEncoderSampleTimes with the presentation and decoding times it was given.
#pragma once

#include <vector>

#include "aux_filters.h"
#include "dshow/amalloc.h"

class COwnedSample : public CMediaSample, public IEncoderSampleTimes {
public:
    // The returned sample holds one reference for the caller.
    static COwnedSample* Create(std::vector<uint8_t> bytes);

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    void SetEncoderTimes(REFERENCE_TIME presentation, REFERENCE_TIME decoding);
    HRESULT STDMETHODCALLTYPE GetSampleFlags(DWORD* flags) override;
    HRESULT STDMETHODCALLTYPE GetSampleTimes(REFERENCE_TIME* presentation, REFERENCE_TIME* decoding,
                                             REFERENCE_TIME* reserved) override;

private:
    explicit COwnedSample(std::vector<uint8_t> bytes);
    std::vector<uint8_t> bytes_;
    REFERENCE_TIME presentation_ = 0;
    REFERENCE_TIME decoding_ = 0;
};
