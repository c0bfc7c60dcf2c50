// CFLVMux as a filter: pins, media types, stream start and stop, packet output.
#include "flv_mux.h"

#include <cstdio>

CUnknown* CFLVMux::CreateInstance(IUnknown* outer, HRESULT* phr)
{
    auto* mux = new CFLVMux(outer, phr);
    if (phr && FAILED(*phr)) {
        delete mux;
        return nullptr;
    }
    return mux;
}

CFLVMux::CFLVMux(IUnknown* outer, HRESULT* phr) : CBaseMux("Kesh RTMP Sink", outer, CLSID_KeshRTMPSink, phr)
{
    AddInputPin();
    AddInputPin();
}

CFLVMux::~CFLVMux()
{
    AbortOutput();
    StopWorker();
}

HRESULT CFLVMux::NonDelegatingQueryInterface(REFIID iid, void** ppv)
{
    if (iid == IID_INetworkConnection) return GetInterface(static_cast<INetworkConnection*>(this), ppv);
    return CBaseMux::NonDelegatingQueryInterface(iid, ppv);
}

CBaseMuxInputPin* CFLVMux::CreateInputPin(LPCWSTR name, HRESULT* phr)
{
    if (m_pins.size() >= kMaxInputPins) return nullptr;
    return new CBaseMuxInputPin(this, &m_csFilter, phr, name, static_cast<int>(m_pins.size()));
}

HRESULT CFLVMux::CheckMediaType(const CMediaType* mt)
{
    if (mt->majortype == MEDIATYPE_Video) {
        const GUID& subtype = mt->subtype;
        if (subtype == MEDIASUBTYPE_FLV1 || subtype == MEDIASUBTYPE_FLV4 || subtype == MEDIASUBTYPE_AVC1 ||
            subtype == MEDIASUBTYPE_H264)
            return S_OK;
    } else if (mt->majortype == MEDIATYPE_Audio) {
        if (mt->subtype == MEDIASUBTYPE_RAW_AAC1 || mt->subtype == MEDIASUBTYPE_MP3) return S_OK;
    }
    return VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT CFLVMux::SetMediaType(CBaseMuxInputPin* pin, const CMediaType* mt)
{
    if (mt->majortype == MEDIATYPE_Video) {
        hasVideo_ = 1;
        return S_OK;
    }
    const WAVEFORMATEX* wave = GetWaveFormatEx(*mt);
    if (!wave || wave->nChannels < 1 || wave->nChannels > 2) return VFW_E_TYPE_NOT_ACCEPTED;
    if (mt->subtype == MEDIASUBTYPE_MP3) {
        DWORD rate = wave->nSamplesPerSec;
        if (rate != 5500 && rate != 11025 && rate != 22050 && rate != 44100) return VFW_E_TYPE_NOT_ACCEPTED;
    }
    hasAudio_ = 1;
    return S_OK;
}

HRESULT CFLVMux::BreakConnect(CBaseMuxInputPin* pin)
{
    hasVideo_ = hasAudio_ = 0;
    for (auto& other : m_pins) {
        if (other.get() == pin || !other->IsConnected()) continue;
        if (other->CurrentMediaType().majortype == MEDIATYPE_Video) hasVideo_ = 1;
        if (other->CurrentMediaType().majortype == MEDIATYPE_Audio) hasAudio_ = 1;
    }
    return S_OK;
}

PacketPtr CFLVMux::CreatePacket(const uint8_t* data, uint32_t length, const CMediaType& mt)
{
    return FLVWriter::PacketFromSample(data, length, mt);
}

void CFLVMux::BeginStreamLocked()
{
    EndDropRunLocked();
    writer_.Reset();
    for (CBaseMuxInputPin* pin : ConnectedPins()) writer_.AddStream(pin->CurrentMediaType());
    if (connection_) {
        connection_->AllowWrites();
        connection_->media.hasAudio = hasAudio_;
        connection_->media.hasVideo = hasVideo_;
        writer_.BeginStream(connection_.get());
        connection_->SendMetadata();
    }
    waitForSyncPoint_ = 1;
    LogLine(log_.get(), "CFLVMux:: Start Stream");
}

HRESULT CFLVMux::StartStreaming()
{
    CAutoLock lock(&m_csSink);
    BeginStreamLocked();
    return S_OK;
}

HRESULT CFLVMux::StopStreaming()
{
    CAutoLock lock(&m_csSink);
    EndDropRunLocked();
    LogLine(log_.get(), "CFLVMux::Stop Streaming");
    LogLine(log_.get(), "----------------");
    return S_OK;
}

HRESULT CFLVMux::OutputPacket(CMuxInterPacket& packet, CBaseMuxInputPin* pin)
{
    CAutoLock lock(&m_csSink);
    if (writer_.IsStopped() || !connection_ || !connection_->IsConnected()) return S_FALSE;
    // Audio always goes out (every audio frame is a sync point); video may wait for a key frame.
    if (hasVideo_ && pin->CurrentMediaType().majortype == MEDIATYPE_Video && !AdmitVideoLocked(packet))
        return S_FALSE;
    writer_.WriteSample(packet, pin->CurrentMediaType());
    return S_OK;
}

// An uplink narrower than the stream must not grow an ever longer delay until the session
// fails: dropping whole groups of pictures keeps the audio continuous and the delay bounded.
bool CFLVMux::AdmitVideoLocked(const CMuxInterPacket& packet)
{
    int64_t waiting = connection_->MediaWaitingTime().count();
    bool uplinkBehind = waiting > kMaxBacklogMs;
    if (waitForSyncPoint_ && packet.syncPoint && !uplinkBehind) {
        waitForSyncPoint_ = 0;
        EndDropRunLocked();
        return true;
    }
    if (dropping_) {
        ++droppedInRun_;
        return false;
    }
    // Outside a run of drops: before the first key frame of a stream start only key frames
    // can start one; afterwards any frame the uplink is too far behind for.
    if (!uplinkBehind || (waitForSyncPoint_ && !packet.syncPoint)) return !waitForSyncPoint_;
    waitForSyncPoint_ = 1;
    dropping_ = true;
    droppedInRun_ = 1;
    char line[160];
    std::snprintf(line, sizeof line,
                  "CFLVMux::OutputPacket: uplink too slow, media waiting for %lld ms; video dropped up to the next "
                  "key frame",
                  static_cast<long long>(waiting));
    LogLine(log_.get(), line);
    return false;
}

void CFLVMux::EndDropRunLocked()
{
    if (!dropping_) return;
    dropping_ = false;
    droppedInSession_ += droppedInRun_;
    char line[160];
    std::snprintf(line, sizeof line, "CFLVMux::OutputPacket: %u video frames dropped (%llu since the filter started)",
                  droppedInRun_, static_cast<unsigned long long>(droppedInSession_));
    LogLine(log_.get(), line);
    droppedInRun_ = 0;
}
