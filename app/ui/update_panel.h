// The window's part of the update: the Yes/Cancel question, and the update panel (the text, a
// 430-pixel progress bar and the percentage) that stays painted while the installer downloads.
#pragma once

#include <functional>

#include "update/software_update.h"

class QFrame;
class QLabel;
class QWidget;

class UpdatePanel : public IUpdateView {
public:
    // Fills `panel` (the window's full-size Update_Panel). `bringToFront` shows it over the others;
    // the site link `siteLink` moves onto it then.
    UpdatePanel(QWidget* panel, QWidget* siteLink, std::function<void()> bringToFront);

    QLabel* Update_lbl;
    QFrame* Update_progress;
    QLabel* Update_percent_lbl;

    bool AskUpdate(const std::string& question) override;
    void ShowUpdatePanel() override;
    bool ShowProgress(int barWidth, const std::string& percentText) override;

private:
    QWidget* panel_;
    QWidget* siteLink_;
    std::function<void()> bringToFront_;
};
