#include "meter_grabber.h"

#include "level_meter.h"

HRESULT STDMETHODCALLTYPE TAudio_Grabber::BufferCB(double SampleTime, BYTE* pBuffer, LONG BufferLen)
{
    peak_.store(PeakOfBuffer(pBuffer, BufferLen), std::memory_order_relaxed);
    return S_OK;
}
