#include "preview_form.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QSystemTrayIcon>
#include <algorithm>
#include <cmath>

#include "monitor_panel.h"

const QSize TPreview_form::kInitialSize{382, 218};

QRect AlignedPicture(int W, int H, int oldWidth, int oldHeight)
{
    // Without a capture size the picture takes the window's shape.
    if (oldWidth <= 0 || oldHeight <= 0) {
        oldWidth = W;
        oldHeight = H;
    }
    double k = std::min(double(H) / oldHeight, double(W) / oldWidth);
    // nearbyint rounds in the default mode, to nearest with halves to even.
    int width = int(std::nearbyint(oldWidth * k)) - 12;
    int height = int(std::nearbyint(oldHeight * k)) - 12;
    return QRect((W - width) / 2, (H - height) / 2, width, height);
}

namespace {

// The grip: three diagonal strokes in the bottom-right corner.
class ResizeGrip : public QWidget {
public:
    explicit ResizeGrip(QWidget* parent) : QWidget(parent)
    {
        setFixedSize(TPreview_form::kGripSide, TPreview_form::kGripSide);
        setCursor(Qt::SizeFDiagCursor);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setPen(QColor(128, 128, 128));
        for (int offset = 3; offset <= 11; offset += 4) painter.drawLine(offset, 11, 11, offset);
    }
};

}  // namespace

TPreview_form::TPreview_form(FrameMailbox* source)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
{
    setObjectName("TPreview_form");
    setWindowTitle("Preview");  // not shown (no caption); names the window for the desktop
    setAttribute(Qt::WA_DeleteOnClose);
    setAttribute(Qt::WA_QuitOnClose, false);
    setAutoFillBackground(true);
    QPalette black = palette();
    black.setColor(QPalette::Window, Qt::black);
    setPalette(black);
    setMinimumSize(kMinimumSide, kMinimumSide);
    resize(kInitialSize);

    monitor1 = new VideoPicture(this, VideoPicture::Placement::FillPanel);
    monitor1->setObjectName("monitor1");
    monitor1->setAccessibleName("Detached preview");
    monitor1->setToolTip("Double ckick to close Preview Pop-up window");
    monitor1->setToolTipDuration(2000);  // as the main window's hints
    monitor1->setSource(source);
    connect(monitor1, &VideoPicture::doubleClicked, this, &TPreview_form::closeRequested);
    monitor1->installEventFilter(this);

    grip_ = new ResizeGrip(this);
    grip_->setObjectName("Resize_grip");
    grip_->installEventFilter(this);
    grip_->move(width() - kGripSide, height() - kGripSide);
}

void TPreview_form::set_size(int x, int y)
{
    oldWidth = x;
    oldHeight = y;
}

void TPreview_form::Align_Controls()
{
    monitor1->setGeometry(AlignedPicture(width(), height(), oldWidth, oldHeight));
    grip_->move(width() - kGripSide, height() - kGripSide);
    grip_->raise();
}

void TPreview_form::resizeEvent(QResizeEvent*) { Align_Controls(); }

void TPreview_form::BeginDrag(Drag drag, QPointF globalPosition)
{
    oldX = int(globalPosition.x());
    oldY = int(globalPosition.y());
    dragStartGeometry_ = geometry();
    isMoving = drag == Drag::Move;
    isResized = drag == Drag::Resize;
}

void TPreview_form::DragTo(QPointF globalPosition)
{
    int dx = int(globalPosition.x()) - oldX;
    int dy = int(globalPosition.y()) - oldY;
    if (isMoving) {
        int top = dragStartGeometry_.top() + dy;
        move(dragStartGeometry_.left() + dx, top >= 0 ? top : y());
    } else if (isResized) {
        resize(std::max(kMinimumSide, dragStartGeometry_.width() + dx),
               std::max(kMinimumSide, dragStartGeometry_.height() + dy));
    }
}

bool TPreview_form::eventFilter(QObject* watched, QEvent* event)
{
    // Presses, moves and releases on the picture and the grip end here: passed on, they would
    // reach the window's background too and start a second drag.
    auto* mouse = dynamic_cast<QMouseEvent*>(event);
    if (!mouse) return QWidget::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::MouseButtonPress:
        if (mouse->button() == Qt::LeftButton)
            BeginDrag(watched == grip_ ? Drag::Resize : Drag::Move, mouse->globalPosition());
        return true;
    case QEvent::MouseMove:
        DragTo(mouse->globalPosition());
        return true;
    case QEvent::MouseButtonRelease:
        isMoving = isResized = false;
        return true;
    default:
        return QWidget::eventFilter(watched, event);
    }
}

void TPreview_form::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) BeginDrag(Drag::Move, event->globalPosition());
}

void TPreview_form::mouseMoveEvent(QMouseEvent* event) { DragTo(event->globalPosition()); }

void TPreview_form::mouseReleaseEvent(QMouseEvent*) { isMoving = isResized = false; }

namespace {

QIcon TrayImage()
{
    if (!QApplication::windowIcon().isNull()) return QApplication::windowIcon();
    QPixmap image(32, 32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(39, 39, 39));
    painter.drawRoundedRect(QRectF(1, 5, 30, 22), 4, 4);
    painter.setBrush(QColor(220, 30, 30));
    painter.drawEllipse(QPointF(16, 16), 6, 6);
    return QIcon(image);
}

}  // namespace

PreviewDetach::PreviewDetach(QWidget* mainWindow, TMonitor* monitor, bool trayAvailable)
    : QObject(mainWindow), mainWindow_(mainWindow), monitor_(monitor), trayAvailable_(trayAvailable),
      TrayIcon1(new QSystemTrayIcon(TrayImage(), this))
{
    TrayIcon1->setToolTip(QApplication::applicationDisplayName());
    connect(TrayIcon1, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason != QSystemTrayIcon::Context) Reattach();
    });
}

PreviewDetach::PreviewDetach(QWidget* mainWindow, TMonitor* monitor)
    : PreviewDetach(mainWindow, monitor, QSystemTrayIcon::isSystemTrayAvailable())
{
}

PreviewDetach::~PreviewDetach() { delete form_; }

void PreviewDetach::Detach(int Video_width, int Video_height)
{
    if (form_) return;
    oldPosition_ = mainWindow_->pos();
    QRect main = mainWindow_->frameGeometry();

    form_ = new TPreview_form(monitor_->surface());
    form_->set_size(Video_width, Video_height);
    form_->Align_Controls();
    form_->move(main.left() + (main.width() - form_->width()) / 2, main.top() + (main.height() - form_->height()) / 2);
    connect(form_, &TPreview_form::closeRequested, this, &PreviewDetach::Reattach, Qt::QueuedConnection);

    // Frames keep arriving at monitor1's surface, also from a pipeline rebuilt meanwhile; the
    // preview shows them while monitor1 rests.
    monitor_->setSource(nullptr);
    if (trayAvailable_) {
        TrayIcon1->show();
        mainWindow_->hide();
    } else {
        mainWindow_->showMinimized();
    }
    form_->show();
}

void PreviewDetach::Reattach()
{
    if (!form_) return;
    TrayIcon1->hide();
    monitor_->setSource(monitor_->surface());
    if (mainWindow_->isMinimized()) mainWindow_->showNormal();
    mainWindow_->move(oldPosition_);
    mainWindow_->show();
    mainWindow_->raise();
    mainWindow_->activateWindow();
    // The main window shows before the preview closes, so closing it never looks like the
    // application's last window going.
    form_->close();
    form_ = nullptr;
    emit reattached();
}
