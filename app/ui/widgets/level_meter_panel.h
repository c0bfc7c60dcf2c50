// One audio level meter column: a dark panel of 8 x 4 segments every 6 pixels, index 0 at the
// bottom. The images for every level are drawn once; a level change only switches images.
#pragma once

#include <QPixmap>
#include <QWidget>
#include <vector>

class TLevelMeter : public QWidget {
    Q_OBJECT
public:
    static const QColor kPanelColour;
    static const QColor kUnlitColour;
    static const QColor kLitColour;

    TLevelMeter(QWidget* parent, int panelHeight = 180);

    int segments() const { return segments_; }  // n: segments 0..n exist
    // Lights segments 0..L (L from MeterLevel; beyond n lights all).
    void setLevel(int L);
    int level() const { return level_; }
    // The top of segment i within the panel.
    int segmentTop(int i) const { return (segments_ - i) * 6; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int segments_;
    int level_ = 0;
    std::vector<QPixmap> levelImages_;  // [L]: segments 0..L lit
};
