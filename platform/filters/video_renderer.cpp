// Video Renderer: converts each uncompressed frame to RGB32 and hands it to the surface that
// the host registered for the owner window (video_surface.h). Without an owner the frames are
// consumed at their presentation time and shown nowhere.
extern "C" {
#include <libswscale/swscale.h>
}

#include <vector>

#include "../dshow/control.h"
#include "../dshow/renbase.h"
#include "../dshow/uuids.h"
#include "platform_filters.h"
#include "video_surface.h"

namespace {

struct InputLayout {
    const GUID* subtype;
    AVPixelFormat format;
    WORD bitCount;   // what the bitmap header must say
    bool bottomUp;   // DirectShow RGB frames start with the bottom row
    bool swapUV;     // YV12 stores V before U
};

constexpr InputLayout kLayouts[] = {
    {&MEDIASUBTYPE_YUY2, AV_PIX_FMT_YUYV422, 16, false, false},
    {&MEDIASUBTYPE_UYVY, AV_PIX_FMT_UYVY422, 16, false, false},
    {&MEDIASUBTYPE_YV12, AV_PIX_FMT_YUV420P, 12, false, true},
    {&MEDIASUBTYPE_I420, AV_PIX_FMT_YUV420P, 12, false, false},
    {&MEDIASUBTYPE_IYUV, AV_PIX_FMT_YUV420P, 12, false, false},
    {&MEDIASUBTYPE_RGB24, AV_PIX_FMT_BGR24, 24, true, false},
    {&MEDIASUBTYPE_RGB32, AV_PIX_FMT_BGR0, 32, true, false},
};

constexpr LONG kLargestSide = 16384;

bool IsPlanar(const InputLayout& layout) { return layout.format == AV_PIX_FMT_YUV420P; }

// Bytes of one row of a packed frame, padded to 4 as DIB rows are.
int PackedRowBytes(const InputLayout& layout, int width) { return (width * layout.bitCount / 8 + 3) & ~3; }

// The bytes a frame of the layout occupies, whatever the header's biSizeImage claims.
ULONG FrameBytes(const InputLayout& layout, int width, int height)
{
    if (IsPlanar(layout)) return ULONG(width) * height + 2 * ULONG((width + 1) / 2) * ((height + 1) / 2);
    return ULONG(PackedRowBytes(layout, width)) * height;
}

const InputLayout* LayoutOf(const GUID& subtype)
{
    for (const InputLayout& layout : kLayouts)
        if (*layout.subtype == subtype) return &layout;
    return nullptr;
}

class CVideoRenderer : public CBaseRenderer, public IVideoWindow {
public:
    CVideoRenderer(IUnknown* outer, HRESULT* phr)
        : CBaseRenderer(CLSID_VideoRenderer, "Video Renderer", outer, phr, u"Input")
    {
    }
    ~CVideoRenderer() override { sws_freeContext(scaler_); }

    DECLARE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void** ppv) override
    {
        if (iid == IID_IVideoWindow) return GetInterface(static_cast<IVideoWindow*>(this), ppv);
        return CBaseRenderer::NonDelegatingQueryInterface(iid, ppv);
    }

    HRESULT CheckMediaType(const CMediaType* mt) override
    {
        const InputLayout* layout = mt->majortype == MEDIATYPE_Video ? LayoutOf(mt->subtype) : nullptr;
        if (!layout) return VFW_E_TYPE_NOT_ACCEPTED;
        // The frame is read with the layout's geometry: a header that claims fewer bits per
        // pixel than the subtype carries would let the conversion read past the sample.
        const BITMAPINFOHEADER* bi = GetBitmapInfoHeader(*mt);
        if (!bi || bi->biBitCount != layout->bitCount || bi->biWidth <= 0 || bi->biWidth > kLargestSide ||
            bi->biHeight == 0 || bi->biHeight > kLargestSide || bi->biHeight < -kLargestSide)
            return VFW_E_TYPE_NOT_ACCEPTED;
        return S_OK;
    }

    HRESULT SetMediaType(const CMediaType* mt) override
    {
        CAutoLock render(&m_RendererLock);
        const BITMAPINFOHEADER* bi = GetBitmapInfoHeader(*mt);
        layout_ = LayoutOf(mt->subtype);
        width_ = bi->biWidth;
        height_ = bi->biHeight < 0 ? -bi->biHeight : bi->biHeight;
        // A negative height marks a top-down RGB frame.
        flip_ = layout_->bottomUp && bi->biHeight > 0;
        frameSize_ = FrameBytes(*layout_, width_, height_);
        sws_freeContext(scaler_);
        scaler_ = sws_getContext(width_, height_, layout_->format, width_, height_, AV_PIX_FMT_BGR0, SWS_POINT,
                                 nullptr, nullptr, nullptr);
        rgb_.assign(size_t(width_) * height_ * 4, 0);
        return scaler_ ? S_OK : E_OUTOFMEMORY;
    }

    HRESULT DoRenderSample(IMediaSample* sample) override
    {
        HWND owner;
        VideoSurfaceFrame frame{};
        {
            std::lock_guard lock(windowMutex_);
            owner = HWND(owner_);
            frame.position = {left_, top_, left_ + windowWidth_, top_ + windowHeight_};
            frame.visible = visible_;
        }
        if (!owner || !scaler_) return S_OK;
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        if (ULONG(sample->GetActualDataLength()) < frameSize_) return S_OK;  // a short frame is skipped

        const uint8_t* planes[4] = {};
        int strides[4] = {};
        int rowBytes = PackedRowBytes(*layout_, width_);
        if (IsPlanar(*layout_)) {
            int chromaWidth = (width_ + 1) / 2, chromaHeight = (height_ + 1) / 2;
            const uint8_t* u = data + size_t(width_) * height_;
            const uint8_t* v = u + size_t(chromaWidth) * chromaHeight;
            planes[0] = data;
            planes[1] = layout_->swapUV ? v : u;
            planes[2] = layout_->swapUV ? u : v;
            strides[0] = width_;
            strides[1] = strides[2] = chromaWidth;
        } else if (!layout_->bottomUp) {
            planes[0] = data;
            strides[0] = rowBytes;
        } else {
            planes[0] = flip_ ? data + size_t(rowBytes) * (height_ - 1) : data;
            strides[0] = flip_ ? -rowBytes : rowBytes;
        }
        uint8_t* out[4] = {rgb_.data()};
        int outStrides[4] = {width_ * 4};
        sws_scale(scaler_, planes, strides, 0, height_, out, outStrides);

        frame.pixels = rgb_.data();
        frame.width = width_;
        frame.height = height_;
        frame.stride = width_ * 4;
        REFERENCE_TIME end;
        if (FAILED(sample->GetTime(&frame.start, &end))) frame.start = 0;
        PresentToVideoSurface(owner, frame);
        return S_OK;
    }

    // ---- IDispatch
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override
    {
        return E_NOTIMPL;
    }

    // ---- IVideoWindow: the values are kept and reported; the surface host applies them.
    HRESULT STDMETHODCALLTYPE put_Caption(BSTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE get_Caption(BSTR* caption) override { return Get(caption, BSTR(nullptr)); }
    HRESULT STDMETHODCALLTYPE put_WindowStyle(LONG style) override { return Put(style_, style); }
    HRESULT STDMETHODCALLTYPE get_WindowStyle(LONG* style) override { return Get(style, style_); }
    HRESULT STDMETHODCALLTYPE put_WindowStyleEx(LONG style) override { return Put(styleEx_, style); }
    HRESULT STDMETHODCALLTYPE get_WindowStyleEx(LONG* style) override { return Get(style, styleEx_); }
    HRESULT STDMETHODCALLTYPE put_AutoShow(LONG autoShow) override { return Put(autoShow_, autoShow); }
    HRESULT STDMETHODCALLTYPE get_AutoShow(LONG* autoShow) override { return Get(autoShow, autoShow_); }
    HRESULT STDMETHODCALLTYPE put_WindowState(LONG state) override { return Put(windowState_, state); }
    HRESULT STDMETHODCALLTYPE get_WindowState(LONG* state) override { return Get(state, windowState_); }
    HRESULT STDMETHODCALLTYPE put_BackgroundPalette(LONG) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE get_BackgroundPalette(LONG* palette) override { return Get(palette, OAFALSE); }
    HRESULT STDMETHODCALLTYPE put_Visible(LONG visible) override
    {
        std::lock_guard lock(windowMutex_);
        visible_ = visible != OAFALSE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Visible(LONG* visible) override
    {
        if (!visible) return E_POINTER;
        std::lock_guard lock(windowMutex_);
        *visible = visible_ ? OATRUE : OAFALSE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_Left(LONG left) override { return Put(left_, left); }
    HRESULT STDMETHODCALLTYPE get_Left(LONG* left) override { return Get(left, left_); }
    HRESULT STDMETHODCALLTYPE put_Width(LONG width) override { return Put(windowWidth_, width); }
    HRESULT STDMETHODCALLTYPE get_Width(LONG* width) override { return Get(width, windowWidth_); }
    HRESULT STDMETHODCALLTYPE put_Top(LONG top) override { return Put(top_, top); }
    HRESULT STDMETHODCALLTYPE get_Top(LONG* top) override { return Get(top, top_); }
    HRESULT STDMETHODCALLTYPE put_Height(LONG height) override { return Put(windowHeight_, height); }
    HRESULT STDMETHODCALLTYPE get_Height(LONG* height) override { return Get(height, windowHeight_); }
    HRESULT STDMETHODCALLTYPE put_Owner(OAHWND owner) override { return Put(owner_, owner); }
    HRESULT STDMETHODCALLTYPE get_Owner(OAHWND* owner) override { return Get(owner, owner_); }
    HRESULT STDMETHODCALLTYPE put_MessageDrain(OAHWND drain) override { return Put(drain_, drain); }
    HRESULT STDMETHODCALLTYPE get_MessageDrain(OAHWND* drain) override { return Get(drain, drain_); }
    HRESULT STDMETHODCALLTYPE get_BorderColor(LONG* color) override { return Get(color, border_); }
    HRESULT STDMETHODCALLTYPE put_BorderColor(LONG color) override { return Put(border_, color); }
    HRESULT STDMETHODCALLTYPE get_FullScreenMode(LONG* mode) override { return Get(mode, OAFALSE); }
    HRESULT STDMETHODCALLTYPE put_FullScreenMode(LONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetWindowForeground(LONG) override { return S_OK; }
    // Mouse and keyboard messages of the picture go to the message drain.
    HRESULT STDMETHODCALLTYPE NotifyOwnerMessage(OAHWND, LONG message, LONG_PTR wParam, LONG_PTR lParam) override
    {
        OAHWND drain;
        {
            std::lock_guard lock(windowMutex_);
            drain = drain_;
        }
        if (drain) PostMessageW(HWND(drain), UINT(message), WPARAM(wParam), LPARAM(lParam));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetWindowPosition(LONG left, LONG top, LONG width, LONG height) override
    {
        std::lock_guard lock(windowMutex_);
        left_ = left;
        top_ = top;
        windowWidth_ = width;
        windowHeight_ = height;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetWindowPosition(LONG* left, LONG* top, LONG* width, LONG* height) override
    {
        if (!left || !top || !width || !height) return E_POINTER;
        std::lock_guard lock(windowMutex_);
        *left = left_;
        *top = top_;
        *width = windowWidth_;
        *height = windowHeight_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetMinIdealImageSize(LONG* width, LONG* height) override
    {
        return GetVideoSize(width, height);
    }
    HRESULT STDMETHODCALLTYPE GetMaxIdealImageSize(LONG* width, LONG* height) override
    {
        return GetVideoSize(width, height);
    }
    HRESULT STDMETHODCALLTYPE GetRestorePosition(LONG* left, LONG* top, LONG* width, LONG* height) override
    {
        return GetWindowPosition(left, top, width, height);
    }
    HRESULT STDMETHODCALLTYPE HideCursor(LONG) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE IsCursorHidden(LONG* hidden) override { return Get(hidden, OAFALSE); }

private:
    template <class T>
    HRESULT Put(T& field, T value)
    {
        std::lock_guard lock(windowMutex_);
        field = value;
        return S_OK;
    }
    template <class T>
    HRESULT Get(T* out, const T& field)
    {
        if (!out) return E_POINTER;
        std::lock_guard lock(windowMutex_);
        *out = field;
        return S_OK;
    }
    HRESULT GetVideoSize(LONG* width, LONG* height)
    {
        if (!width || !height) return E_POINTER;
        CAutoLock render(&m_RendererLock);
        *width = width_;
        *height = height_;
        return S_OK;
    }

    std::mutex windowMutex_;  // the IVideoWindow values
    OAHWND owner_ = 0;
    OAHWND drain_ = 0;
    LONG style_ = 0;
    LONG styleEx_ = 0;
    LONG autoShow_ = OATRUE;
    LONG windowState_ = 0;
    LONG border_ = 0;
    LONG left_ = 0, top_ = 0, windowWidth_ = 0, windowHeight_ = 0;
    bool visible_ = false;

    // Conversion state, under m_RendererLock.
    const InputLayout* layout_ = nullptr;
    LONG width_ = 0, height_ = 0;
    bool flip_ = false;
    ULONG frameSize_ = 0;
    SwsContext* scaler_ = nullptr;
    std::vector<uint8_t> rgb_;
};

}  // namespace

CUnknown* CreateVideoRenderer(IUnknown* outer, HRESULT* phr) { return new CVideoRenderer(outer, phr); }
