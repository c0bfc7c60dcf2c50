#include "image_button.h"

#include <QPainter>
#include <QSignalBlocker>
#include <QSvgRenderer>

// The images are compiled into this static library; register them before the first use.
static void InitUiResources()
{
    static const bool done = [] {
        Q_INIT_RESOURCE(images);
        return true;
    }();
    (void)done;
}

ImageButton::ImageButton(QWidget* parent, const QString& objectName, const QString& accessibleName,
                         const QString& offSvg, const QString& onSvg, const QString& disabledSvg)
    : QAbstractButton(parent), off_((InitUiResources(), new QSvgRenderer(offSvg, this)))
{
    setObjectName(objectName);
    setAccessibleName(accessibleName);
    if (!onSvg.isEmpty()) {
        on_ = new QSvgRenderer(onSvg, this);
        setCheckable(true);
    }
    if (!disabledSvg.isEmpty()) disabled_ = new QSvgRenderer(disabledSvg, this);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::StrongFocus);
}

void ImageButton::setCaption(const QString& caption, const QColor& colour, int pixelSize)
{
    caption_ = caption;
    captionColour_ = colour;
    captionSize_ = pixelSize;
    update();
}

void ImageButton::setHighlighted(bool highlighted)
{
    highlighted_ = highlighted;
    update();
}

void ImageButton::setCheckedQuietly(bool checked)
{
    QSignalBlocker block(this);
    setChecked(checked);
    update();
}

QSize ImageButton::sizeHint() const { return off_->defaultSize(); }

void ImageButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QSvgRenderer* image = off_;
    if (on_ && (isChecked() || highlighted_)) image = on_;
    const bool dimmed = !isEnabled() && !disabled_;
    if (!isEnabled() && disabled_) image = disabled_;
    if (dimmed) painter.setOpacity(0.45);
    image->render(&painter, QRectF(rect()));
    if (!caption_.isEmpty()) {
        QFont font = painter.font();
        font.setPixelSize(captionSize_);
        font.setBold(true);
        painter.setFont(font);
        painter.setPen(isEnabled() ? captionColour_ : QColor(0x7f, 0x7f, 0x7f));
        painter.drawText(rect(), Qt::AlignCenter, caption_);
    }
    if (hasFocus()) {
        painter.setOpacity(1.0);
        painter.setPen(QPen(QColor(0x9c, 0xc5, 0xe5), 1, Qt::DotLine));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(rect().adjusted(0, 0, -1, -1));
    }
}
