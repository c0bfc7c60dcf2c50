// Silent audio source: 16-bit stereo PCM silence at 44.1 kHz in 20 ms samples, stamped by
// sample count from the start of the run and released no earlier than the graph clock
// reaches each sample, so the stream runs in real time.
#include <algorithm>
#include <cstring>

#include "common/audio_types.h"
#include "common/buffers.h"
#include "common/library_entry.h"
#include "dshow/source.h"

namespace {

constexpr DWORD kRate = 44100;
constexpr WORD kChannels = 2;
constexpr LONG kFramesPerSample = kRate / 50;

class CSilenceStream : public CSourceStream {
public:
    CSilenceStream(HRESULT* phr, CSource* filter) : CSourceStream("silence", phr, filter, u"Output") {}

    HRESULT GetMediaType(CMediaType* mt) override
    {
        SetPcm16Type(mt, kRate, kChannels);
        return S_OK;
    }
    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override
    {
        return RequestBuffers(allocator, request, 4, kFramesPerSample * 2 * kChannels);
    }
    HRESULT OnThreadStartPlay() override
    {
        framesSent_ = 0;
        return S_OK;
    }
    HRESULT FillBuffer(IMediaSample* sample) override
    {
        REFERENCE_TIME start = framesSent_ * 10000000LL / kRate;
        framesSent_ += kFramesPerSample;
        REFERENCE_TIME stop = framesSent_ * 10000000LL / kRate;
        WaitForStreamTime(start);
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        const LONG bytes = kFramesPerSample * 2 * kChannels;
        std::memset(data, 0, static_cast<size_t>(bytes));
        sample->SetActualDataLength(bytes);
        sample->SetTime(&start, &stop);
        sample->SetSyncPoint(TRUE);
        return S_OK;
    }

private:
    // Sleeps in short steps so that a stop request is seen promptly; without a clock (or
    // while paused) the samples go out as fast as downstream takes them.
    void WaitForStreamTime(REFERENCE_TIME target)
    {
        for (int step = 0; step < 10; ++step) {
            CRefTime now;
            // IsStopped reads the state without the filter lock, which Stop holds while it waits for this thread.
            if (IsStopped() || m_pFilter->StreamTime(now) != S_OK) return;
            const REFERENCE_TIME ahead = target - static_cast<REFERENCE_TIME>(now);
            if (ahead <= 0) return;
            Command command;
            if (CheckRequest(&command)) return;
            Sleep(static_cast<DWORD>(std::min<REFERENCE_TIME>(ahead / 10000 + 1, 10)));
        }
    }
    int64_t framesSent_ = 0;
};

class CAudioGenerator : public CSource {
public:
    static CUnknown* CreateInstance(IUnknown* outer, HRESULT* phr)
    {
        auto* filter = new CAudioGenerator(outer, phr);
        new CSilenceStream(phr, filter);  // registers itself with the filter, which owns it
        return filter;
    }

private:
    CAudioGenerator(IUnknown* outer, HRESULT* phr) : CSource("KeshAudioGenerator", outer, CLSID_KeshAudioGenerator, phr)
    {
    }
};

const CFactoryTemplate g_Templates[] = {
    {u"KeshAudioGenerator", &CLSID_KeshAudioGenerator, CAudioGenerator::CreateInstance}};

}  // namespace

VELTRO_FILTER_LIBRARY(g_Templates)
