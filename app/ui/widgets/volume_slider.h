// The volume slider: a thumb dragged up and down its panel, its top between 14 (full volume)
// and 154 (silence). The rule of what a move does is the session's; the slider reports where
// the cursor (or a key, or an assistive tool) would put the thumb and shows where it is. Its
// value is the percentage shown beside it, so assistive tools read the same number.
#pragma once

#include <QAbstractSlider>
#include <functional>

class TVolumeSlider : public QAbstractSlider {
    Q_OBJECT
public:
    static constexpr int kHighestTop = 14;
    static constexpr int kLowestTop = 154;
    static constexpr int kThumbWidth = 20;
    static constexpr int kThumbHeight = 10;

    explicit TVolumeSlider(QWidget* parent);

    // Places the thumb; the value becomes the whole percentage of that top.
    void setThumbTop(int top);
    int thumbTop() const { return thumb_->y(); }
    QWidget* thumb() const { return thumb_; }
    // Called with the thumb's new top for each cursor move while dragging, each arrow or page
    // key and each value an assistive tool sets; returns whether the thumb moved (a drag then
    // remembers the cursor where it is).
    void setMoveHandler(std::function<bool(int newTop)> handler) { moveHandler_ = std::move(handler); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    bool RequestTop(int top) { return moveHandler_ && moveHandler_(top); }

    QWidget* thumb_;
    std::function<bool(int)> moveHandler_;
    bool isDrag = false;
    int dragy = 0;  // screen y of the last accepted cursor position
};
