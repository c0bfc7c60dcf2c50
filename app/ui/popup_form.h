// TPopup_form: the one small window for every message the broadcaster must acknowledge, the
// yes/no question before a recording file is overwritten, and the first-start wait notice.
#pragma once

#include <QDialog>

#include "settings/popup_presenter.h"

class QLabel;
class ImageButton;

class TPopup_form : public QDialog {
    Q_OBJECT
public:
    explicit TPopup_form(QWidget* parent);

    QLabel* error_label1;
    QLabel* error_label2;
    ImageButton* Ok_btn;
    ImageButton* yes_btn;
    ImageButton* no_btn;
    int yesTag = 0;  // tag of yes_btn: 1 once Yes was pressed

    void LayOutMessage(const QString& mess1, const QString& mess2);
    void LayOutQuestion(const QString& mess, const QString& filename);
    void LayOutWaitNotice(const QString& text);
};

// Repaints `widget` at once, then lets `milliseconds` pass with painting and timers going on
// and user input held back.
void RepaintAndWait(QWidget* widget, int milliseconds);

// Shows the session's messages in TPopup_form, modal over `owner` and on top.
class PopupPresenter : public IPopupPresenter {
public:
    void SetOwner(QWidget* owner) { owner_ = owner; }
    void ShowMessage(const std::string& first, const std::string& second) override;
    bool AskRewrite(const std::string& question, const std::string& fileName) override;
    void ShowWaitNotice(const std::string& text, int milliseconds) override;

private:
    QWidget* owner_ = nullptr;
};
