// The detached preview: a borderless, always-on-top window showing the live picture while the
// main window waits hidden behind a tray icon.
#pragma once

#include <QPoint>
#include <QPointer>
#include <QSize>
#include <QWidget>

class FrameMailbox;
class QSystemTrayIcon;
class TMonitor;
class VideoPicture;

// Where the picture panel sits in a W x H preview window for a capture of oldWidth x oldHeight:
// the capture's aspect ratio, sizes rounded half to even, a margin of at least 6 pixels.
QRect AlignedPicture(int W, int H, int oldWidth, int oldHeight);

class TPreview_form : public QWidget {
    Q_OBJECT
public:
    static constexpr int kMinimumSide = 100;
    static constexpr int kGripSide = 12;
    static const QSize kInitialSize;

    // Shows the newest frame of `source`.
    explicit TPreview_form(FrameMailbox* source);

    void set_size(int x, int y);
    void Align_Controls();
    VideoPicture* picture() const { return monitor1; }
    QWidget* grip() const { return grip_; }

signals:
    // A double click on the picture.
    void closeRequested();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    enum class Drag { None, Move, Resize };
    void BeginDrag(Drag drag, QPointF globalPosition);
    void DragTo(QPointF globalPosition);

    VideoPicture* monitor1;
    QWidget* grip_;
    int oldWidth = 0;
    int oldHeight = 0;
    // The drag, in screen coordinates: X11 moves and resizes windows asynchronously, so positions
    // relative to the moving window would lag behind the cursor.
    int oldX = 0;
    int oldY = 0;
    bool isMoving = false;
    bool isResized = false;
    QRect dragStartGeometry_;
};

// Detaching monitor1's picture into a TPreview_form and bringing everything back.
class PreviewDetach : public QObject {
    Q_OBJECT
public:
    // trayAvailable: whether the desktop has a notification area; without one the main window
    // is minimised instead of hidden, so the user always has a way back.
    PreviewDetach(QWidget* mainWindow, TMonitor* monitor, bool trayAvailable);
    PreviewDetach(QWidget* mainWindow, TMonitor* monitor);
    ~PreviewDetach() override;

    // The capture size is the picture's aspect ratio. Returns at once; the preview stays until
    // Reattach (a double click on its picture, a click on the tray icon).
    void Detach(int Video_width, int Video_height);
    void Reattach();
    bool IsDetached() const { return form_ != nullptr; }
    TPreview_form* form() const { return form_; }
    QSystemTrayIcon* trayIcon() const { return TrayIcon1; }

signals:
    // The main window shows again: bring its preview, meter and volume panels to the front.
    void reattached();

private:
    QWidget* mainWindow_;
    TMonitor* monitor_;
    bool trayAvailable_;
    QSystemTrayIcon* TrayIcon1;
    QPointer<TPreview_form> form_;
    QPoint oldPosition_;
};
