// MP4 multiplexer filter: two inputs taking the H.264 and the AAC encoders' output in either
// order, one output whose samples are pieces of the file positioned by their start time
// (the byte offset), as the File Writer expects, or writes that go through the IStream of the
// downstream pin when it offers one. The file is fragmented so that it stays playable when the
// program dies while recording.
#include <array>
#include <memory>
#include <mutex>

#include "common/buffers.h"
#include "common/library_entry.h"
#include "com/stream.h"
#include "common/owned_sample.h"
#include "dshow/amfilter.h"
#include "mp4_writer.h"

namespace {

class CMp4Mux;

enum class TrackKind { None, Video, Audio };

TrackKind KindOf(const AM_MEDIA_TYPE& mt)
{
    if (mt.majortype == MEDIATYPE_Video && mt.subtype == MEDIASUBTYPE_AVC1 && mt.formattype == FORMAT_MPEG2Video &&
        !GetSequenceHeader(mt).empty())
        return TrackKind::Video;
    if (mt.majortype == MEDIATYPE_Audio && mt.subtype == MEDIASUBTYPE_RAW_AAC1) {
        const WAVEFORMATEX* wfx = GetWaveFormatEx(mt);
        if (wfx && wfx->nChannels >= 1 && wfx->nChannels <= 2 && !GetWaveFormatExtra(mt).empty())
            return TrackKind::Audio;
    }
    return TrackKind::None;
}

class CMuxInput : public CBaseInputPin {
public:
    CMuxInput(CMp4Mux* filter, CCritSec* lock, HRESULT* phr, LPCWSTR name);
    HRESULT CheckMediaType(const CMediaType* mt) override;
    HRESULT STDMETHODCALLTYPE Receive(IMediaSample* sample) override;
    HRESULT STDMETHODCALLTYPE EndOfStream() override;
    HRESULT Active() override
    {
        ended_ = false;
        return CBaseInputPin::Active();
    }
    TrackKind Kind() { return IsConnected() ? KindOf(CurrentMediaType()) : TrackKind::None; }
    bool Ended() const { return ended_; }

private:
    CMp4Mux* filter_;
    std::atomic<bool> ended_{false};
};

class CMuxOutput : public CBaseOutputPin {
public:
    CMuxOutput(CMp4Mux* filter, CCritSec* lock, HRESULT* phr);
    HRESULT CheckMediaType(const CMediaType* mt) override
    {
        return mt->majortype == MEDIATYPE_Stream ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }
    HRESULT GetMediaType(int position, CMediaType* mt) override
    {
        if (position < 0) return E_INVALIDARG;
        if (position > 0) return VFW_S_NO_MORE_ITEMS;
        mt->InitMediaType();
        mt->SetType(&MEDIATYPE_Stream);
        mt->SetSubtype(&MEDIASUBTYPE_None);
        return S_OK;
    }
    // The file pieces are the multiplexer's own samples; the allocator only serves the connection.
    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override
    {
        return RequestBuffers(allocator, request, 1, 1);
    }

    // A downstream pin that offers IStream takes the file's bytes through it in any state, so
    // the closing data that Stop produces reaches the file even though the graph stops the
    // writer first.
    HRESULT CompleteConnect(IPin* receivePin) override
    {
        const HRESULT hr = CBaseOutputPin::CompleteConnect(receivePin);
        if (SUCCEEDED(hr)) receivePin->QueryInterface(IID_IStream, stream_.PutVoid());
        return hr;
    }
    HRESULT BreakConnect() override
    {
        stream_.Reset();
        return CBaseOutputPin::BreakConnect();
    }
    IStream* Stream() const { return stream_.Get(); }

private:
    ComPtr<IStream> stream_;
};

class CMp4Mux : public CBaseFilter {
public:
    static CUnknown* CreateInstance(IUnknown* outer, HRESULT* phr) { return new CMp4Mux(outer); }

    int GetPinCount() override { return 3; }
    CBasePin* GetPin(int n) override
    {
        if (n == 0 || n == 1) return inputs_[n].get();
        if (n == 2) return output_.get();
        return nullptr;
    }

    // A second input of a kind already connected is refused: one track per kind.
    bool KindTakenByOther(const CMuxInput* pin, TrackKind kind)
    {
        for (auto& input : inputs_)
            if (input.get() != pin && input->Kind() == kind) return true;
        return false;
    }

    HRESULT Write(CMuxInput* pin, IMediaSample* sample)
    {
        std::lock_guard<std::mutex> hold(writerLock_);
        // A sample that was on its way while the graph stopped finds the file closed: opening
        // it again would start a second file over the first one.
        if (!recording_) return VFW_E_WRONG_STATE;
        if (!writer_ && !failed_) Open();
        if (!writer_) return S_FALSE;
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        const size_t size = static_cast<size_t>(sample->GetActualDataLength());
        REFERENCE_TIME start = 0, stop = 0;
        const HRESULT timed = sample->GetTime(&start, &stop);
        if (FAILED(timed)) return S_OK;  // an untimed sample cannot be placed
        if (timed == VFW_S_NO_STOP_TIME) stop = start;
        bool ok = true;
        if (pin->Kind() == TrackKind::Video) {
            REFERENCE_TIME pts = start, dts = start;
            IEncoderSampleTimes* times = nullptr;
            if (SUCCEEDED(sample->QueryInterface(IID_IEncoderSampleTimes, reinterpret_cast<void**>(&times)))) {
                times->GetSampleTimes(&pts, &dts, nullptr);
                times->Release();
            }
            ok = writer_->WriteVideo(data, size, pts, dts, sample->IsSyncPoint() == S_OK);
        } else {
            ok = writer_->WriteAudio(data, size, start, stop);
        }
        return ok ? S_OK : E_FAIL;
    }

    // After the last connected input ended, the file gets its closing index.
    void InputEnded()
    {
        for (auto& input : inputs_)
            if (input->IsConnected() && !input->Ended()) return;
        Close();
        if (output_->IsConnected()) output_->DeliverEndOfStream();
    }

    // Leaving the stopped state starts a new recording, written when its first sample comes.
    HRESULT STDMETHODCALLTYPE Pause() override
    {
        if (m_State == State_Stopped) {
            std::lock_guard<std::mutex> hold(writerLock_);
            recording_ = true;
        }
        return CBaseFilter::Pause();
    }

    HRESULT STDMETHODCALLTYPE Stop() override
    {
        Close();
        return CBaseFilter::Stop();
    }

private:
    explicit CMp4Mux(IUnknown* outer) : CBaseFilter("MP4 Muxer", outer, &lock_, CLSID_MP4Muxer)
    {
        HRESULT hr = S_OK;
        inputs_[0] = std::make_unique<CMuxInput>(this, &lock_, &hr, u"Input 1");
        inputs_[1] = std::make_unique<CMuxInput>(this, &lock_, &hr, u"Input 2");
        output_ = std::make_unique<CMuxOutput>(this, &lock_, &hr);
    }

    // Called with writerLock_ held, on the first sample of a run.
    void Open()
    {
        std::optional<Mp4VideoTrack> video;
        std::optional<Mp4AudioTrack> audio;
        for (auto& input : inputs_) {
            const CMediaType& mt = input->CurrentMediaType();
            switch (input->Kind()) {
            case TrackKind::Video: {
                // KindOf checked the block: an MPEG2VIDEOINFO with a sequence header.
                const auto& vih = reinterpret_cast<const MPEG2VIDEOINFO*>(mt.pbFormat)->hdr;
                const auto header = GetSequenceHeader(mt);
                video = Mp4VideoTrack{vih.bmiHeader.biWidth, std::abs(vih.bmiHeader.biHeight), vih.AvgTimePerFrame,
                                      std::vector<uint8_t>(header.begin(), header.end())};
                break;
            }
            case TrackKind::Audio: {
                const WAVEFORMATEX* wfx = GetWaveFormatEx(mt);
                const auto config = GetWaveFormatExtra(mt);
                audio = Mp4AudioTrack{static_cast<int>(wfx->nSamplesPerSec), wfx->nChannels,
                                      static_cast<int>(wfx->nAvgBytesPerSec * 8),
                                      std::vector<uint8_t>(config.begin(), config.end())};
                break;
            }
            case TrackKind::None:
                break;
            }
        }
        writer_ = Mp4Writer::Create(video, audio,
                                    [this](int64_t offset, const uint8_t* data, size_t size) {
                                        return DeliverPiece(offset, data, size);
                                    },
                                    nullptr);
        failed_ = !writer_;
        if (failed_) NotifyEvent(EC_ERRORABORT, E_FAIL, 0);
    }

    // Finishes the file; nothing more is written to it until the filter runs again.
    void Close()
    {
        std::lock_guard<std::mutex> hold(writerLock_);
        if (writer_) writer_->Finish();
        writer_.reset();
        failed_ = false;
        recording_ = false;
    }

    bool DeliverPiece(int64_t offset, const uint8_t* data, size_t size)
    {
        if (!output_->IsConnected()) return false;
        if (IStream* stream = output_->Stream()) {
            ULONG written = 0;
            return SUCCEEDED(stream->Seek(LARGE_INTEGER{offset}, STREAM_SEEK_SET, nullptr)) &&
                   SUCCEEDED(stream->Write(data, static_cast<ULONG>(size), &written)) && written == size;
        }
        COwnedSample* piece = COwnedSample::Create(std::vector<uint8_t>(data, data + size));
        REFERENCE_TIME start = offset, stop = offset + static_cast<int64_t>(size);
        piece->SetTime(&start, &stop);
        const HRESULT hr = output_->Deliver(piece);
        piece->Release();
        return hr == S_OK;
    }

    CCritSec lock_;
    std::mutex writerLock_;  // taken by both inputs' streaming threads and by Stop
    std::array<std::unique_ptr<CMuxInput>, 2> inputs_;
    std::unique_ptr<CMuxOutput> output_;
    std::unique_ptr<Mp4Writer> writer_;
    bool failed_ = false;
    bool recording_ = false;  // from leaving the stopped state until Stop or the end of the streams
};

CMuxOutput::CMuxOutput(CMp4Mux* filter, CCritSec* lock, HRESULT* phr)
    : CBaseOutputPin("mp4 output", filter, lock, phr, u"Output")
{
}

CMuxInput::CMuxInput(CMp4Mux* filter, CCritSec* lock, HRESULT* phr, LPCWSTR name)
    : CBaseInputPin("mp4 input", filter, lock, phr, name), filter_(filter)
{
}

HRESULT CMuxInput::CheckMediaType(const CMediaType* mt)
{
    const TrackKind kind = KindOf(*mt);
    if (kind == TrackKind::None || filter_->KindTakenByOther(this, kind)) return VFW_E_TYPE_NOT_ACCEPTED;
    return S_OK;
}

HRESULT CMuxInput::Receive(IMediaSample* sample)
{
    HRESULT hr = CBaseInputPin::Receive(sample);
    if (hr != S_OK) return hr;
    return filter_->Write(this, sample);
}

HRESULT CMuxInput::EndOfStream()
{
    ended_ = true;
    filter_->InputEnded();
    return S_OK;
}

const CFactoryTemplate g_Templates[] = {{u"MP4 Muxer", &CLSID_MP4Muxer, CMp4Mux::CreateInstance}};

}  // namespace

VELTRO_FILTER_LIBRARY(g_Templates)
