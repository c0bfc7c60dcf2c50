#include "volume_slider.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>

namespace {

constexpr int kTravel = TVolumeSlider::kLowestTop - TVolumeSlider::kHighestTop;

class Thumb : public QWidget {
public:
    explicit Thumb(QWidget* parent) : QWidget(parent)
    {
        setObjectName("Volume_thumb");
        setFixedSize(TVolumeSlider::kThumbWidth, TVolumeSlider::kThumbHeight);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QColor(30, 30, 30));
        painter.setBrush(isEnabled() ? QColor(200, 200, 200) : QColor(110, 110, 110));
        painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 2, 2);
        painter.drawLine(4, height() / 2, width() - 4, height() / 2);
    }
};

}  // namespace

TVolumeSlider::TVolumeSlider(QWidget* parent) : QAbstractSlider(parent), thumb_(new Thumb(this))
{
    setObjectName("Volume_bar_img");
    setAccessibleName("Volume");
    setOrientation(Qt::Vertical);
    setRange(0, 100);
    setFocusPolicy(Qt::StrongFocus);
    setMinimumSize(kThumbWidth + 4, kLowestTop + kThumbHeight + 4);
    thumb_->installEventFilter(this);
    setThumbTop(83);
    changeEvent(nullptr);
    // A value set from outside (an assistive tool, the wheel) asks for the lowest top that
    // still shows that percentage.
    connect(this, &QAbstractSlider::valueChanged, this, [this](int percent) {
        if (!RequestTop(kHighestTop + kTravel * (100 - percent) / 100)) setThumbTop(thumbTop());
    });
}

void TVolumeSlider::setThumbTop(int top)
{
    thumb_->move((width() - kThumbWidth) / 2, top);
    QSignalBlocker quiet(this);
    // The shown percentage: whole part, truncated.
    setValue(int((1.0 - double(top - kHighestTop) / kTravel) * 100));
}

void TVolumeSlider::changeEvent(QEvent* event)
{
    // The hand cursor only while the slider takes input (audio switched on).
    if (!event || event->type() == QEvent::EnabledChange)
        thumb_->setCursor(isEnabled() ? Qt::PointingHandCursor : Qt::ArrowCursor);
    if (event) QAbstractSlider::changeEvent(event);
}

void TVolumeSlider::resizeEvent(QResizeEvent*) { thumb_->move((width() - kThumbWidth) / 2, thumbTop()); }

bool TVolumeSlider::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != thumb_) return QAbstractSlider::eventFilter(watched, event);
    auto* mouse = dynamic_cast<QMouseEvent*>(event);
    if (!mouse) return QAbstractSlider::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::MouseButtonPress:
        if (mouse->button() == Qt::LeftButton) {
            isDrag = true;
            dragy = int(mouse->globalPosition().y());
        }
        return true;
    case QEvent::MouseMove:
        if (isDrag) {
            int y = int(mouse->globalPosition().y());
            if (RequestTop(thumbTop() + (y - dragy))) dragy = y;
        }
        return true;
    case QEvent::MouseButtonRelease:
        isDrag = false;
        return true;
    default:
        return QAbstractSlider::eventFilter(watched, event);
    }
}

void TVolumeSlider::keyPressEvent(QKeyEvent* event)
{
    int step = 0;
    switch (event->key()) {
    case Qt::Key_Up: step = -1; break;
    case Qt::Key_Down: step = 1; break;
    case Qt::Key_PageUp: step = -kTravel / 10; break;
    case Qt::Key_PageDown: step = kTravel / 10; break;
    case Qt::Key_Home: step = kHighestTop - thumbTop(); break;
    case Qt::Key_End: step = kLowestTop - thumbTop(); break;
    default: QAbstractSlider::keyPressEvent(event); return;
    }
    RequestTop(std::clamp(thumbTop() + step, kHighestTop, kLowestTop));
}

void TVolumeSlider::paintEvent(QPaintEvent*)
{
    // The groove the thumb's centre travels along.
    QPainter painter(this);
    painter.fillRect(width() / 2 - 2, kHighestTop + kThumbHeight / 2, 4, kTravel, QColor(20, 20, 20));
    if (hasFocus()) {
        painter.setPen(QPen(palette().highlight().color(), 1, Qt::DotLine));
        painter.drawRect(rect().adjusted(0, 0, -1, -1));
    }
}
