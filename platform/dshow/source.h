// CSource and CSourceStream: a source filter whose output pins each run a streaming thread
// that fills samples (FillBuffer) and delivers them while the filter is paused or running.
#pragma once

#include <vector>

#include "amfilter.h"

class CSourceStream;

class CSource : public CBaseFilter {
public:
    CSource(const char* name, IUnknown* outer, REFCLSID clsid, HRESULT* phr = nullptr);
    ~CSource() override;  // deletes the remaining pins

    int GetPinCount() override;
    CBasePin* GetPin(int n) override;
    HRESULT STDMETHODCALLTYPE FindPin(LPCWSTR id, IPin** pin) override;

    // Called by CSourceStream's constructor and destructor.
    HRESULT AddPin(CSourceStream* pin);
    HRESULT RemovePin(CSourceStream* pin);
    int FindPinNumber(IPin* pin);

    CCritSec* pStateLock() { return &m_cStateLock; }

protected:
    std::vector<CSourceStream*> m_paStreams;
    CCritSec m_cStateLock;
};

class CSourceStream : public CAMThread, public CBaseOutputPin {
public:
    CSourceStream(const char* objectName, HRESULT* phr, CSource* filter, LPCWSTR name);
    ~CSourceStream() override;

    // Fills one sample: S_OK delivers it, S_FALSE ends the stream, an error aborts it.
    virtual HRESULT FillBuffer(IMediaSample* sample) = 0;
    virtual HRESULT OnThreadCreate() { return S_OK; }
    virtual HRESULT OnThreadDestroy() { return S_OK; }
    virtual HRESULT OnThreadStartPlay() { return S_OK; }

    // Starts the thread and the streaming loop / stops and ends the thread.
    HRESULT Active() override;
    HRESULT Inactive() override;

    // One preferred type by default (GetMediaType(CMediaType*)); override either form.
    HRESULT CheckMediaType(const CMediaType* mt) override;
    HRESULT GetMediaType(int position, CMediaType* mt) override;
    virtual HRESULT GetMediaType(CMediaType* mt) { return E_UNEXPECTED; }

    HRESULT STDMETHODCALLTYPE QueryId(LPWSTR* id) override;

    enum Command : DWORD { CMD_INIT, CMD_PAUSE, CMD_RUN, CMD_STOP, CMD_EXIT };

protected:
    HRESULT Init() { return HRESULT(CallWorker(CMD_INIT)); }
    HRESULT Exit() { return HRESULT(CallWorker(CMD_EXIT)); }
    HRESULT Run() { return HRESULT(CallWorker(CMD_RUN)); }
    HRESULT Pause() { return HRESULT(CallWorker(CMD_PAUSE)); }
    HRESULT Stop() { return HRESULT(CallWorker(CMD_STOP)); }
    Command GetRequest() { return Command(CAMThread::GetRequest()); }
    BOOL CheckRequest(Command* command);

    DWORD ThreadProc() override;
    virtual HRESULT DoBufferProcessingLoop();
    // A live source delivers only while running: false makes the loop wait.
    virtual bool DeliversNow() { return true; }
    // FillBuffer's S_FALSE ends the stream; a live source may use it for "no sample this time".
    virtual bool EndsStreamOnFalse() { return true; }

    CSource* m_pFilter;
};
