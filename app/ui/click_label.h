// A text label that reports clicks (the captions that act on their switch or list).
#pragma once

#include <QLabel>
#include <QMouseEvent>

class ClickLabel : public QLabel {
    Q_OBJECT
public:
    ClickLabel(QWidget* parent, const char* objectName, const QString& text) : QLabel(text, parent)
    {
        setObjectName(objectName);
        setTextFormat(Qt::PlainText);
    }

signals:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override
    {
        if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) emit clicked();
        QLabel::mouseReleaseEvent(event);
    }
};

// A text that acts as a link or button: focusable and pressable by assistive technology.
#include <QAbstractButton>
#include <QPainter>

class TextButton : public QAbstractButton {
    Q_OBJECT
public:
    TextButton(QWidget* parent, const char* objectName, const QString& accessibleName, const QString& text)
        : QAbstractButton(parent)
    {
        setObjectName(objectName);
        setAccessibleName(accessibleName);
        setText(text);
        setCursor(Qt::PointingHandCursor);
        setFocusPolicy(Qt::StrongFocus);
    }
    void setColour(const QColor& colour)
    {
        colour_ = colour;
        update();
    }
    QSize sizeHint() const override { return fontMetrics().size(0, text()) + QSize(2, 2); }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        QFont underlined = font();
        underlined.setUnderline(underMouse() || hasFocus());
        painter.setFont(underlined);
        painter.setPen(colour_);
        painter.drawText(rect(), Qt::AlignLeft | Qt::AlignVCenter, text());
    }
    void enterEvent(QEnterEvent*) override { update(); }
    void leaveEvent(QEvent*) override { update(); }

private:
    QColor colour_{0x9C, 0xC5, 0xE5};
};
