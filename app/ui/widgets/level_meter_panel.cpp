#include "level_meter_panel.h"

#include <QPainter>
#include <algorithm>

#include "pipeline/level_meter.h"

const QColor TLevelMeter::kPanelColour{39, 39, 39};
const QColor TLevelMeter::kUnlitColour{70, 70, 70};
const QColor TLevelMeter::kLitColour{40, 210, 60};

TLevelMeter::TLevelMeter(QWidget* parent, int panelHeight)
    : QWidget(parent), segments_(MeterSegments(panelHeight))
{
    // The bottom segment sits at top n x 6: four pixels below a panel whose height is a
    // multiple of 6, so the column is that much taller than the panel it was built for.
    setFixedSize(8, segments_ * 6 + 4);
    setAttribute(Qt::WA_OpaquePaintEvent);
    for (int L = 0; L <= segments_; ++L) {
        QPixmap image(size());
        image.fill(kPanelColour);
        QPainter painter(&image);
        for (int i = 0; i <= segments_; ++i) painter.fillRect(0, segmentTop(i), 8, 4, i <= L ? kLitColour : kUnlitColour);
        levelImages_.push_back(image);
    }
}

void TLevelMeter::setLevel(int L)
{
    L = std::clamp(L, 0, segments_);
    if (L == level_) return;
    level_ = L;
    update();
}

void TLevelMeter::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.drawPixmap(0, 0, levelImages_[level_]);
}
