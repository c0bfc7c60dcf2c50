// The live picture: the Video Renderer hands its frames to a surface registered for an owner
// handle; the window's panels paint the newest of them.
#pragma once

#include <QImage>
#include <QRect>
#include <QWidget>
#include <atomic>
#include <mutex>
#include <vector>

#include "dshow/control.h"
#include "filters/video_surface.h"

// The newest frame of one owner handle. The renderer's streaming thread copies each frame into
// a spare buffer and swaps it in under a short lock; the window's thread swaps it out to paint.
// Whole frames change hands, so a painted picture is never half of one frame and half of the
// next, and the streaming thread never waits for a paint.
class FrameMailbox : public QObject {
    Q_OBJECT
public:
    explicit FrameMailbox(QObject* parent = nullptr);
    // After this no callback of the renderer runs into the mailbox.
    ~FrameMailbox() override;

    // The owner handle to give the renderer (IVideoWindow::put_Owner).
    OAHWND handle() const { return OAHWND(handle_); }
    // Window thread: the newest frame, a null image before the first one or after Clear. The
    // image and the rectangle stay valid until the next call.
    QImage Newest(QRect* position);
    // The renderer is gone: forget the last picture.
    void Clear();

signals:
    // Queued to the window's thread; one at a time however fast frames come.
    void frameArrived();

private:
    struct Buffer {
        std::vector<uint32_t> pixels;  // 0xffRRGGBB, rows of `width`
        int width = 0;
        int height = 0;
        QRect position;  // the renderer's window rectangle in the owner, empty when unset
    };
    void Store(const VideoSurfaceFrame& frame);  // streaming thread

    HWND handle_ = 0;
    std::mutex mutex_;     // pending_ and fresh_
    Buffer spare_;         // streaming thread only
    Buffer pending_;
    Buffer front_;         // window thread only
    bool fresh_ = false;
    std::atomic<bool> notifyQueued_{false};
};

// A black panel painting a mailbox's newest frame: into the renderer's window rectangle, or
// over the whole panel when the panel is itself sized to the picture.
class VideoPicture : public QWidget {
    Q_OBJECT
public:
    enum class Placement { RendererRectangle, FillPanel };
    VideoPicture(QWidget* parent, Placement placement);

    // The mailbox shown, none for a black panel.
    void setSource(FrameMailbox* source);
    FrameMailbox* source() const { return source_; }

signals:
    void doubleClicked();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    FrameMailbox* source_ = nullptr;
    Placement placement_;
};

// monitor1 of the main window: owns the surface that every renderer of the pipeline draws into.
class TMonitor : public VideoPicture {
    Q_OBJECT
public:
    explicit TMonitor(QWidget* parent);

    OAHWND handle() const { return surface_->handle(); }
    FrameMailbox* surface() const { return surface_; }
    // No renderer any more: black instead of the last frame.
    void clearPicture();

private:
    FrameMailbox* surface_;
};
