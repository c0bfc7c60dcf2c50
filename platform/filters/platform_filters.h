// The platform's own filters, created with CoCreateInstance of their class ids (uuids.h):
// Video Renderer, Sample Grabber, Null Renderer, File Writer and the MJPEG decompressor,
// which is also the first converter that Connect and RenderStream may insert.
#pragma once

#include "../dshow/combase.h"

CUnknown* CreateVideoRenderer(IUnknown* outer, HRESULT* phr);
CUnknown* CreateSampleGrabber(IUnknown* outer, HRESULT* phr);
CUnknown* CreateNullRenderer(IUnknown* outer, HRESULT* phr);
CUnknown* CreateFileWriter(IUnknown* outer, HRESULT* phr);
CUnknown* CreateMjpegDecompressor(IUnknown* outer, HRESULT* phr);
