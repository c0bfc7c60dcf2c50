// A button that paints SVG images: one image for a plain button, an off/on pair for a switch
// (the button is then checkable), and an optional disabled look. Being a QAbstractButton it
// takes keyboard focus and is an accessible push button (or a toggle for a switch).
#pragma once

#include <QAbstractButton>
#include <QColor>
#include <QString>

class QSvgRenderer;

class ImageButton : public QAbstractButton {
    Q_OBJECT
public:
    // Images are resource paths (":/ui/switch_on.svg"); an empty onSvg makes a plain button.
    ImageButton(QWidget* parent, const QString& objectName, const QString& accessibleName, const QString& offSvg,
                const QString& onSvg = {}, const QString& disabledSvg = {});

    // A text painted over the image (tabs, the stream and dialog buttons).
    void setCaption(const QString& caption, const QColor& colour = Qt::white, int pixelSize = 12);
    // The highlighted image without making the button checkable (tabs show their page this way).
    void setHighlighted(bool highlighted);
    bool isHighlighted() const { return highlighted_; }
    // Sets the check state without emitting toggled() or clicked(), for the window's own updates.
    void setCheckedQuietly(bool checked);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QSvgRenderer* off_;
    QSvgRenderer* on_ = nullptr;
    QSvgRenderer* disabled_ = nullptr;
    QString caption_;
    QColor captionColour_;
    int captionSize_ = 12;
    bool highlighted_ = false;
};
