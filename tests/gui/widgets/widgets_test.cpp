// The live picture, the detached preview and the level meters as a user sees them, on the
// offscreen platform.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <thread>

#include "../../platform/dshow/test_filters.h"
#include "dshow/control.h"
#include "pipeline/level_meter.h"
#include "widgets/level_meter_panel.h"
#include "widgets/monitor_panel.h"
#include "widgets/preview_form.h"
#include "widgets/volume_slider.h"

namespace {

class WidgetsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        home_ = new QTemporaryDir;
        for (const char* name : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"})
            qputenv(name, home_->path().toUtf8());
        qputenv("XDG_RUNTIME_DIR", home_->path().toUtf8());
        qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "gui_widgets_test";
        static char* argv[] = {name, nullptr};
        app_ = new QApplication(argc, argv);
    }
    static void TearDownTestSuite()
    {
        delete app_;
        delete home_;
    }
    static QApplication* app_;
    static QTemporaryDir* home_;
};
QApplication* WidgetsTest::app_ = nullptr;
QTemporaryDir* WidgetsTest::home_ = nullptr;

void Mouse(QWidget* widget, QEvent::Type type, QPoint global)
{
    Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, widget->mapFromGlobal(QPointF(global)), QPointF(global), Qt::LeftButton, held,
                      Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

// The platform's Video Renderer drawing for an owner handle, as the pipeline sets it up, fed
// bottom-up RGB32 frames (DirectShow's RGB row order) from a streaming thread of the test's.
struct RendererFeed {
    RendererFeed(OAHWND owner, int width, int height, RECT position) : width(width), height(height)
    {
        source = new PushSource({VideoOf(MEDIASUBTYPE_RGB32, width, height, 32)}, 1, width * height * 4);
        held = Hold(source);
        renderer = Create<IBaseFilter>(CLSID_VideoRenderer);
        auto window = renderer.As<IVideoWindow>();
        window->put_Owner(owner);
        window->SetWindowPosition(position.left, position.top, position.right - position.left,
                                  position.bottom - position.top);
        graph.Add(held, u"Camera");
        graph.Add(renderer, u"Video Renderer");
        EXPECT_EQ(graph.Link(held, renderer), S_OK);
        EXPECT_EQ(graph.control->Run(), S_OK);
    }
    // A frame whose upper half is `top` and lower half `bottom`.
    void Show(QColor top, QColor bottom)
    {
        QImage frame(width, height, QImage::Format_RGB32);  // bytes B, G, R, X as RGB32 samples
        frame.fill(top);
        QPainter(&frame).fillRect(0, height / 2, width, height - height / 2, bottom);
        frame = frame.mirrored();  // DirectShow's RGB rows run bottom up
        std::thread streaming([&] {
            IMediaSample* sample = nullptr;
            ASSERT_EQ(source->Out()->GetDeliveryBuffer(&sample, nullptr, nullptr, 0), S_OK);
            BYTE* data = nullptr;
            sample->GetPointer(&data);
            std::memcpy(data, frame.constBits(), size_t(frame.sizeInBytes()));
            sample->SetActualDataLength(LONG(frame.sizeInBytes()));  // no time: shown at once
            EXPECT_EQ(source->Out()->Deliver(sample), S_OK);
            sample->Release();
        });
        streaming.join();
    }

    int width, height;
    TestGraph graph;
    PushSource* source;
    ComPtr<IBaseFilter> held, renderer;
};

QColor PixelAt(QWidget* widget, int x, int y) { return widget->grab().toImage().pixelColor(x, y); }

int LitSegments(TLevelMeter& meter)
{
    QImage image = meter.grab().toImage();
    int lit = 0;
    for (int i = 0; i <= meter.segments(); ++i)
        if (image.pixelColor(4, meter.segmentTop(i) + 2) == TLevelMeter::kLitColour) ++lit;
    return lit;
}

}  // namespace

TEST_F(WidgetsTest, MeterLightsTheSegmentsOfThePeak)
{
    TLevelMeter meter(nullptr, 180);
    ASSERT_EQ(meter.segments(), 30);
    struct Case { uint16_t peak; int lit; };
    for (Case c : {Case{32768, 31}, Case{1090, 1}, Case{1091, 2}, Case{0, 1}, Case{16384, 16}}) {
        meter.setLevel(MeterLevel(c.peak, meter.segments()));
        EXPECT_EQ(LitSegments(meter), c.lit) << "peak " << c.peak;
    }
    // Between segments the panel's own colour shows.
    EXPECT_EQ(PixelAt(&meter, 4, meter.segmentTop(5) + 5), TLevelMeter::kPanelColour);
}

TEST_F(WidgetsTest, PictureKeepsTheCaptureShapeRoundingHalvesToEven)
{
    EXPECT_EQ(AlignedPicture(382, 218, 640, 480), QRect(51, 6, 279, 206));
    // 480 x 382 / 640 = 286.5 rounds down to 286, 480 x 386 / 640 = 289.5 up to 290.
    EXPECT_EQ(AlignedPicture(382, 400, 640, 480).height(), 286 - 12);
    EXPECT_EQ(AlignedPicture(386, 400, 640, 480).height(), 290 - 12);
    // No capture size yet: the window's shape, not a division by zero.
    EXPECT_EQ(AlignedPicture(382, 218, 0, 0), QRect(6, 6, 370, 206));
}

TEST_F(WidgetsTest, MonitorPaintsTheNewestFrameInTheRenderersRectangle)
{
    TMonitor monitor(nullptr);
    monitor.resize(320, 180);
    QSignalSpy arrived(monitor.surface(), &FrameMailbox::frameArrived);
    RECT letterbox{40, 0, 280, 180};  // a 4:3 picture in the 16:9 panel
    // Frames of the rectangle's size: Qt scales smoothly on its own thread pool, whose
    // uninstrumented synchronisation the thread sanitizer takes for races.
    RendererFeed camera(monitor.handle(), 240, 180, letterbox);

    camera.Show(QColor(200, 0, 0), QColor(0, 0, 200));
    ASSERT_TRUE(arrived.wait(5000));
    EXPECT_EQ(PixelAt(&monitor, 160, 40), QColor(200, 0, 0));  // upright, colours in place
    EXPECT_EQ(PixelAt(&monitor, 160, 140), QColor(0, 0, 200));
    EXPECT_EQ(PixelAt(&monitor, 10, 90), QColor(Qt::black));

    camera.Show(QColor(0, 200, 0), QColor(0, 200, 0));
    ASSERT_TRUE(arrived.wait(5000));
    EXPECT_EQ(PixelAt(&monitor, 160, 40), QColor(0, 200, 0));

    monitor.clearPicture();  // video switched off: no frozen picture
    EXPECT_EQ(PixelAt(&monitor, 160, 90), QColor(Qt::black));
}

TEST_F(WidgetsTest, DetachedPreviewMovesResizesAndReturnsToTheOldPlace)
{
    QWidget main;
    main.setGeometry(300, 200, 784, 402);
    TMonitor* monitor = new TMonitor(&main);
    monitor->setGeometry(0, 63, 320, 180);
    main.show();
    QPoint oldPlace = main.pos();
    PreviewDetach detach(&main, monitor, false);  // no notification area: minimise
    QSignalSpy back(&detach, &PreviewDetach::reattached);

    detach.Detach(640, 480);
    TPreview_form* form = detach.form();
    ASSERT_TRUE(form && form->isVisible());
    EXPECT_EQ(form->size(), QSize(382, 218));
    QRect outer = main.frameGeometry();  // centred on the main window, to the pixel
    EXPECT_LE(std::abs(2 * form->x() + 382 - (2 * outer.x() + outer.width())), 1);
    EXPECT_LE(std::abs(2 * form->y() + 218 - (2 * outer.y() + outer.height())), 1);
    EXPECT_EQ(form->picture()->geometry(), QRect(51, 6, 279, 206));
    EXPECT_TRUE(main.isMinimized());
    EXPECT_TRUE(form->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(form->windowFlags() & Qt::FramelessWindowHint);

    // Dragging far upward stops at the screen's top edge and still moves sideways.
    QPoint start = form->mapToGlobal(QPoint(100, 100));
    QPoint formAt = form->pos();
    Mouse(form->picture(), QEvent::MouseButtonPress, start);
    Mouse(form->picture(), QEvent::MouseMove, start + QPoint(-30, -formAt.y() - 50));
    Mouse(form->picture(), QEvent::MouseButtonRelease, start + QPoint(-30, -formAt.y() - 50));
    EXPECT_EQ(form->pos(), QPoint(formAt.x() - 30, formAt.y()));

    // The grip resizes, never below 100 x 100, and the picture follows.
    QPoint corner = form->grip()->mapToGlobal(QPoint(6, 6));
    Mouse(form->grip(), QEvent::MouseButtonPress, corner);
    Mouse(form->grip(), QEvent::MouseMove, corner + QPoint(-82, -18));
    EXPECT_EQ(form->size(), QSize(300, 200));
    EXPECT_EQ(form->picture()->geometry(), QRect(22, 6, 255, 188));
    Mouse(form->grip(), QEvent::MouseMove, corner - QPoint(1000, 1000));
    Mouse(form->grip(), QEvent::MouseButtonRelease, corner - QPoint(1000, 1000));
    EXPECT_EQ(form->size(), QSize(100, 100));

    // A double click on the picture brings the main window back where it was.
    QMouseEvent twice(QEvent::MouseButtonDblClick, QPointF(10, 10), QPointF(form->picture()->mapToGlobal(QPoint(10, 10))),
                      Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(form->picture(), &twice);
    ASSERT_TRUE(back.wait(5000));
    EXPECT_FALSE(detach.IsDetached());
    EXPECT_TRUE(main.isVisible());
    EXPECT_FALSE(main.isMinimized());
    EXPECT_EQ(main.pos(), oldPlace);
    EXPECT_EQ(monitor->source(), monitor->surface());
}

TEST_F(WidgetsTest, TrayIconClickBringsTheHiddenMainWindowBack)
{
    QWidget main;
    main.setGeometry(300, 200, 784, 402);
    TMonitor* monitor = new TMonitor(&main);
    main.show();
    QPoint oldPlace = main.pos();
    PreviewDetach detach(&main, monitor, true);

    detach.Detach(1280, 720);
    EXPECT_FALSE(main.isVisible());
    EXPECT_TRUE(detach.trayIcon()->isVisible());
    emit detach.trayIcon()->activated(QSystemTrayIcon::Trigger);
    EXPECT_FALSE(detach.IsDetached());
    EXPECT_FALSE(detach.trayIcon()->isVisible());
    EXPECT_TRUE(main.isVisible());
    EXPECT_EQ(main.pos(), oldPlace);
}

TEST_F(WidgetsTest, VolumeThumbWaitsAtItsEndUntilTheCursorComesBack)
{
    TVolumeSlider slider(nullptr);
    slider.resize(36, 170);
    // The session's rule: the thumb moves only to a top within its travel.
    slider.setMoveHandler([&](int top) {
        if (top < TVolumeSlider::kHighestTop || top > TVolumeSlider::kLowestTop) return false;
        slider.setThumbTop(top);
        return true;
    });
    EXPECT_EQ(slider.value(), 50);  // top 83

    QPoint grab = slider.thumb()->mapToGlobal(QPoint(5, 5));
    Mouse(slider.thumb(), QEvent::MouseButtonPress, grab);
    Mouse(slider.thumb(), QEvent::MouseMove, grab + QPoint(0, -69));  // to 14
    Mouse(slider.thumb(), QEvent::MouseMove, grab + QPoint(0, -90));  // past it: refused
    EXPECT_EQ(slider.thumbTop(), 14);
    EXPECT_EQ(slider.value(), 100);
    // Back 10 pixels from the refused place is still above the travel: nothing moves until
    // the cursor passes the place where the thumb stopped.
    Mouse(slider.thumb(), QEvent::MouseMove, grab + QPoint(0, -80));
    EXPECT_EQ(slider.thumbTop(), 14);
    Mouse(slider.thumb(), QEvent::MouseMove, grab + QPoint(0, 1));  // 70 below the last accepted
    Mouse(slider.thumb(), QEvent::MouseButtonRelease, grab + QPoint(0, 1));
    EXPECT_EQ(slider.thumbTop(), 84);
    EXPECT_EQ(slider.value(), 50);

    // A value set by an assistive tool asks for the lowest top of that percentage.
    for (auto [percent, top] : {std::pair{1, 152}, std::pair{0, 154}, std::pair{100, 14}}) {
        slider.setValue(percent);
        EXPECT_EQ(slider.thumbTop(), top) << percent << "%";
        EXPECT_EQ(slider.value(), percent);
    }
}
