#include "update_panel.h"

#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QMessageBox>

#include "palette.h"

namespace {

constexpr int kBarLeft = (784 - 430) / 2;

QLabel* CentredLabel(QWidget* parent, const char* name, const QString& text, int top, const QColor& colour)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignCenter);
    label->setGeometry(0, top, 784, 20);
    SetTextColour(label, colour);
    return label;
}

}  // namespace

UpdatePanel::UpdatePanel(QWidget* panel, QWidget* siteLink, std::function<void()> bringToFront)
    : panel_(panel), siteLink_(siteLink), bringToFront_(std::move(bringToFront))
{
    Update_lbl = CentredLabel(panel, "Update_lbl", "The application will now install the updates and restart ", 160,
                              VeltroColours::active);
    auto* track = new QFrame(panel);
    track->setObjectName("Update_track");
    track->setGeometry(kBarLeft, 192, 430, 14);
    track->setStyleSheet("background: #1b1d1f;");
    Update_progress = new QFrame(panel);
    Update_progress->setObjectName("Update_progress");
    Update_progress->setGeometry(kBarLeft, 192, 0, 14);
    Update_progress->setStyleSheet("background: #2e9ad7;");
    Update_percent_lbl = CentredLabel(panel, "Update_percent_lbl", "0 %", 212, VeltroColours::secondary);
}

bool UpdatePanel::AskUpdate(const std::string& question)
{
    QMessageBox box(QMessageBox::Question, QApplication::applicationDisplayName(), QString::fromStdString(question),
                    QMessageBox::Yes | QMessageBox::Cancel, panel_->window());
    return box.exec() == QMessageBox::Yes;
}

void UpdatePanel::ShowUpdatePanel()
{
    bringToFront_();
    siteLink_->setParent(panel_);
    siteLink_->move((784 - siteLink_->width()) / 2, 360);
    siteLink_->show();
    siteLink_->raise();
}

// The download blocks the window's thread: paint here, but take no clicks that could start
// another handler in the middle of it. A window closed meanwhile ends the download.
bool UpdatePanel::ShowProgress(int barWidth, const std::string& percentText)
{
    if (Update_progress->width() != barWidth) Update_progress->resize(barWidth, Update_progress->height());
    const QString text = QString::fromStdString(percentText);
    if (Update_percent_lbl->text() != text) Update_percent_lbl->setText(text);
    QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    return panel_->window()->isVisible();
}
