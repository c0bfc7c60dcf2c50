#include "popup_form.h"

#include <QApplication>
#include <QEventLoop>
#include <QLabel>
#include <QTimer>

#include "app_info.h"
#include "image_button.h"
#include "palette.h"

namespace {

// Carriage returns in the texts are line breaks.
QString AsLines(const std::string& text) { return QString::fromStdString(text).replace('\r', '\n'); }

void CentreHorizontally(QWidget* control, int windowWidth)
{
    control->move((windowWidth - control->width()) / 2, control->y());
}

ImageButton* DialogButton(QWidget* parent, const char* name, const QString& text, int width)
{
    auto* button = new ImageButton(parent, name, text, ":/ui/button.svg");
    button->setCaption(text);
    button->resize(width, 25);
    return button;
}

}  // namespace

TPopup_form::TPopup_form(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowStaysOnTopHint)
{
    setObjectName("Popup_form");
    setWindowTitle(kApplicationTitle);
    QPalette colours = palette();
    colours.setColor(QPalette::Window, VeltroColours::popup);
    colours.setColor(QPalette::WindowText, QColor(0x26, 0x29, 0x2C));
    setPalette(colours);
    setAutoFillBackground(true);
    setFixedSize(325, 181);

    error_label1 = new QLabel(this);
    error_label1->setObjectName("error_label1");
    error_label2 = new QLabel(this);
    error_label2->setObjectName("error_label2");
    error_label2->hide();
    for (QLabel* label : {error_label1, error_label2}) label->setTextFormat(Qt::PlainText);
    Ok_btn = DialogButton(this, "Ok_btn", "OK", 75);
    yes_btn = DialogButton(this, "yes_btn", "Yes", 52);
    no_btn = DialogButton(this, "no_btn", "No", 52);
    yes_btn->hide();
    no_btn->hide();
    connect(Ok_btn, &QAbstractButton::clicked, this, &QDialog::accept);
    connect(yes_btn, &QAbstractButton::clicked, this, [this] {
        yesTag = 1;
        accept();
    });
    connect(no_btn, &QAbstractButton::clicked, this, [this] {
        yesTag = 0;
        reject();
    });
}

void TPopup_form::LayOutMessage(const QString& mess1, const QString& mess2)
{
    error_label1->setText(mess1);
    error_label1->adjustSize();
    error_label1->move(error_label1->x(), 32);
    int height = 142;
    int widest = error_label1->width();
    if (!mess2.isEmpty()) {
        error_label2->setText(mess2);
        error_label2->adjustSize();
        error_label2->move(error_label2->x(), 62);
        error_label2->show();
        Ok_btn->move(Ok_btn->x(), 145);
        height = 207;
        widest = std::max(widest, error_label2->width());
    } else {
        Ok_btn->move(Ok_btn->x(), 80);
    }
    const int width = widest + 64;
    setFixedSize(width, height);
    for (QWidget* control : {static_cast<QWidget*>(error_label1), static_cast<QWidget*>(error_label2),
                             static_cast<QWidget*>(Ok_btn)})
        CentreHorizontally(control, width);
}

void TPopup_form::LayOutQuestion(const QString& mess, const QString& filename)
{
    error_label1->setText(filename);
    error_label1->adjustSize();
    error_label1->move(error_label1->x(), 30);
    error_label2->setText(mess);
    error_label2->adjustSize();
    error_label2->move(error_label2->x(), 60);
    error_label2->show();
    const int width = error_label1->width() + 100;
    setFixedSize(width, 160);
    yes_btn->move(width / 2 - 57, 96);
    no_btn->move(yes_btn->x() + 62, 96);
    yes_btn->show();
    no_btn->show();
    Ok_btn->hide();
    CentreHorizontally(error_label1, width);
    CentreHorizontally(error_label2, width);
}

void TPopup_form::LayOutWaitNotice(const QString& text)
{
    error_label1->setText(text);
    error_label1->adjustSize();
    error_label1->move(24, 32);
    Ok_btn->hide();
    setFixedSize(400, 100);
}

namespace {

// Centred on the owner (or the screen without one), modal and on top.
int ExecCentred(TPopup_form& form, QWidget* owner)
{
    if (owner && owner->isVisible()) {
        const QRect frame = owner->frameGeometry();
        form.move(frame.center() - QPoint(form.width() / 2, form.height() / 2));
    }
    form.setModal(true);
    return form.exec();
}

}  // namespace

void PopupPresenter::ShowMessage(const std::string& first, const std::string& second)
{
    TPopup_form form(owner_);
    form.LayOutMessage(AsLines(first), AsLines(second));
    ExecCentred(form, owner_);
}

bool PopupPresenter::AskRewrite(const std::string& question, const std::string& fileName)
{
    TPopup_form form(owner_);
    form.LayOutQuestion(AsLines(question), QString::fromStdString(fileName));
    ExecCentred(form, owner_);
    return form.yesTag == 1;
}

void PopupPresenter::ShowWaitNotice(const std::string& text, int milliseconds)
{
    TPopup_form form(owner_);
    form.LayOutWaitNotice(AsLines(text));
    form.show();
    RepaintAndWait(&form, milliseconds);
}

void RepaintAndWait(QWidget* widget, int milliseconds)
{
    widget->repaint();
    QEventLoop wait;
    QTimer::singleShot(milliseconds, &wait, &QEventLoop::quit);
    wait.exec(QEventLoop::ExcludeUserInputEvents);
}
