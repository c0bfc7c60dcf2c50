#include "monitor_panel.h"

#include <QMouseEvent>
#include <QPainter>
#include <algorithm>

#include "winmsg/winmsg.h"

FrameMailbox::FrameMailbox(QObject* parent) : QObject(parent)
{
    // A message window only for a handle no other window has; nothing is posted to it.
    handle_ = CreateMessageWindow([](UINT, WPARAM, LPARAM) {});
    RegisterVideoSurface(handle_, [this](const VideoSurfaceFrame& frame) { Store(frame); });
}

FrameMailbox::~FrameMailbox()
{
    UnregisterVideoSurface(handle_);
    DestroyMessageWindow(handle_);
}

void FrameMailbox::Store(const VideoSurfaceFrame& frame)
{
    if (!frame.pixels || frame.width <= 0 || frame.height <= 0 || frame.stride < frame.width * 4) return;
    // Allocates only when the size changes; the fourth byte is padding for the renderer and
    // must be opaque for the painter.
    spare_.pixels.resize(size_t(frame.width) * frame.height);
    spare_.width = frame.width;
    spare_.height = frame.height;
    const RECT& r = frame.position;
    spare_.position = QRect(r.left, r.top, r.right - r.left, r.bottom - r.top);
    for (int y = 0; y < frame.height; ++y) {
        const uint8_t* row = frame.pixels + size_t(y) * frame.stride;
        uint32_t* out = spare_.pixels.data() + size_t(y) * frame.width;
        for (int x = 0; x < frame.width; ++x)
            out[x] = 0xff000000u | uint32_t(row[4 * x + 2]) << 16 | uint32_t(row[4 * x + 1]) << 8 | row[4 * x];
    }
    {
        std::lock_guard lock(mutex_);
        std::swap(spare_, pending_);
        fresh_ = true;
    }
    if (!notifyQueued_.exchange(true))
        QMetaObject::invokeMethod(
            this,
            [this] {
                notifyQueued_ = false;
                emit frameArrived();
            },
            Qt::QueuedConnection);
}

QImage FrameMailbox::Newest(QRect* position)
{
    {
        std::lock_guard lock(mutex_);
        if (fresh_) std::swap(pending_, front_);
        fresh_ = false;
    }
    if (position) *position = front_.position;
    if (front_.pixels.empty()) return {};
    return QImage(reinterpret_cast<const uchar*>(front_.pixels.data()), front_.width, front_.height,
                  front_.width * 4, QImage::Format_RGB32);
}

void FrameMailbox::Clear()
{
    {
        std::lock_guard lock(mutex_);
        pending_.pixels.clear();
        fresh_ = false;
    }
    front_.pixels.clear();
    emit frameArrived();
}

VideoPicture::VideoPicture(QWidget* parent, Placement placement) : QWidget(parent), placement_(placement)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void VideoPicture::setSource(FrameMailbox* source)
{
    if (source_ == source) return;
    if (source_) disconnect(source_, nullptr, this, nullptr);
    source_ = source;
    if (source_) connect(source_, &FrameMailbox::frameArrived, this, qOverload<>(&QWidget::update));
    update();
}

void VideoPicture::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    if (!source_) return;
    QRect position;
    QImage picture = source_->Newest(&position);
    if (picture.isNull()) return;
    QRect target = placement_ == Placement::FillPanel || position.isEmpty() ? rect() : position;
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(target, picture);
}

void VideoPicture::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) emit doubleClicked();
}

TMonitor::TMonitor(QWidget* parent)
    : VideoPicture(parent, Placement::RendererRectangle), surface_(new FrameMailbox(this))
{
    setObjectName("monitor1");
    setAccessibleName("Preview");
    setToolTip("Double ckick to open Preview Pop-up window");
    setSource(surface_);
}

void TMonitor::clearPicture() { surface_->Clear(); }
