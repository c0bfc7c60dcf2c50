#include "main_form.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QSignalBlocker>
#include <QUrl>

#include "app_info.h"
#include "click_label.h"
#include "devices/devices.h"
#include "image_button.h"
#include "palette.h"
#include "update_panel.h"
#include "pipeline/bitrate_lists.h"
#include "settings/app_config.h"
#include "session/account_session.h"
#include "settings/folders.h"
#include "widgets/level_meter_panel.h"
#include "widgets/monitor_panel.h"
#include "widgets/volume_slider.h"

namespace {

void SetText(QLabel* label, const std::string& text)
{
    label->setText(QString::fromStdString(text));
    label->adjustSize();
}

// Selects without running the list's handler.
void SelectQuietly(QComboBox* list, int position)
{
    QSignalBlocker block(list);
    list->setCurrentIndex(position >= 0 && position < list->count() ? position : -1);
}

// Refills only when the items changed, so an open list is not closed under the user.
void FillQuietly(QComboBox* list, const std::vector<std::string>& items, int position)
{
    QSignalBlocker block(list);
    bool same = list->count() == int(items.size());
    for (int i = 0; same && i < list->count(); ++i) same = list->itemText(i).toStdString() == items[i];
    if (!same) {
        list->clear();
        for (const std::string& item : items) list->addItem(QString::fromStdString(item));
    }
    const int selected = position >= 0 && position < int(items.size()) ? position : -1;
    if (list->currentIndex() != selected) list->setCurrentIndex(selected);
}

void SelectText(QComboBox* list, const std::string& text)
{
    SelectQuietly(list, list->findText(QString::fromStdString(text)));
}

}  // namespace

int ApplicationVersionNumber(const QString& fileVersion)
{
    QString digits;
    for (int position : {0, 2, 4, 6})
        if (position < fileVersion.size()) digits += fileVersion[position];
    return digits.toInt();
}

TMain_form::TMain_form(PopupPresenter& presenter)
    : presenter(presenter),
      settings(&presenter),
      APP_PATH(ExecutableFolderPath()),
      APP_VERSION(ApplicationVersionNumber(kFileVersion)),
      session(settings, APP_PATH)
{
    presenter.SetOwner(this);
    auto* client = new QWidget(this);
    client->setObjectName("client");
    QPalette colours = client->palette();
    colours.setColor(QPalette::Window, VeltroColours::background);
    colours.setColor(QPalette::WindowText, VeltroColours::active);
    client->setPalette(colours);
    client->setStyleSheet(
        "QComboBox { background: #34383c; color: white; border: 1px solid #4a4f55; border-radius: 3px;"
        " padding: 1px 6px; }"
        "QComboBox:disabled { color: #7f7f7f; border-color: #3a3e42; }"
        "QComboBox QAbstractItemView { background: #34383c; color: white; selection-background-color: #2e9ad7; }"
        "QLineEdit { background: #26292c; color: white; border: 1px solid #4a4f55; border-radius: 3px;"
        " padding: 2px 4px; }"
        "QLineEdit:disabled { color: #7f7f7f; border-color: #3a3e42; }"
        "QLineEdit:focus { border-color: #2e9ad7; }");
    setCentralWidget(client);
    setFixedSize(784, 402);

    BuildUpdatePanel();
    BuildMainPanel();
    BuildLoginPanel();
    updatePanel = std::make_unique<UpdatePanel>(Update_Panel, url_link_label, [this] { ShowFullPanel(Update_Panel); });
    ConnectHandlers();
    ConnectEncoderHandlers();
    FormCreate();
}

TMain_form::~TMain_form()
{
    if (notifyHandle_) {
        UnregisterDeviceRemovalWindow(notifyHandle_);
        DestroyMessageWindow(notifyHandle_);
    }
}

void TMain_form::FormCreate()
{
    // Window messages (the sink's WM_RTMP_SENT, device removals) reach the window's thread in order.
    notifyHandle_ = CreateMessageWindow(
        [this](UINT message, WPARAM wParam, LPARAM lParam) { OnWindowMessage(message, wParam, lParam); },
        [this] {
            QMetaObject::invokeMethod(this, [this] { DispatchWindowMessages(notifyHandle_); }, Qt::QueuedConnection);
        });
    RegisterDeviceRemovalWindow(notifyHandle_);
    session.notifyWindow = notifyHandle_;
    session.processMessages = [this] { DispatchWindowMessages(notifyHandle_); };
    session.wait = [this](int milliseconds) { RepaintAndWait(this, milliseconds); };
    session.pipeline.previewOwner = monitor1->handle();

    resize_width->setEnabled(false);
    resize_height->setEnabled(false);
    file_path_edit->setEnabled(false);
    browse_on_img->hide();
    browse_off_img->show();
    setWindowTitle(kApplicationTitle);
    for (QLabel* label : {Videodevice_lbl1, Audiodevice_lbl1}) label->clear();

    for (QTimer* timer : {&Timer1, &Connect_Timer, &Check_Stream}) timer->setTimerType(Qt::PreciseTimer);
    Timer1.setInterval(10);
    Connect_Timer.setInterval(1000);
    Check_Stream.setInterval(1000);

    LoadSettingsIntoControls();

    Edit_password->setEchoMode(QLineEdit::Password);
    url_btn->setToolTip("Click to open channel in browser");
    url_btn->setToolTipDuration(2000);
    url_link_label->setText(QString::fromStdString(LoadAppConfig().webSite));
    url_link_label->resize(url_link_label->sizeHint());
    url_link_label->move(768 - url_link_label->width(), 24);

    ShowFullPanel(Login_Panel);
    Broadcast_off_btnClick();
    RefreshControls();
}

void TMain_form::LoadSettingsIntoControls()
{
    try {
        settings.ReadSettings();
        const bool remember = settings.remember == 1;
        Edit_Username->setText(remember ? QString::fromStdString(settings.username) : QString());
        Edit_password->setText(remember ? QString::fromStdString(settings.password) : QString());
        remember_off_button->setCheckedQuietly(remember);
        Framerate_half_off->setCheckedQuietly(settings.Framerate_half == 1);
        if (settings.Save_file == 1) session.RecordingOn();
        if (settings.Framerate.empty()) settings.Framerate = "30.00";
        SelectText(framerate_combobox, settings.Framerate);
    } catch (const std::exception&) {
        // The controls keep what they show.
    }
    session.LoadSettingsIntoControls();
    resize_width->setText(QString::fromStdString(session.state.resizeWidthText));
    resize_height->setText(QString::fromStdString(session.state.resizeHeightText));
    file_path_edit->setText(QString::fromStdString(session.state.file_path_edit));
    FillEncoderControls();
}

void TMain_form::FillEncoderControls()
{
    const TVideo_Encoder& encoder = session.Video_Encoder;
    SelectQuietly(Level_combobox, encoder.Level);
    Parallel_off->setCheckedQuietly(encoder.Parallel != 0);
    CABAC_off->setCheckedQuietly(encoder.CABAC != 0);
    Deblock_off->setCheckedQuietly(encoder.Deblock != 0);
    if (encoder.Deblock_Strength >= -6 && encoder.Deblock_Strength <= 6)
        SelectQuietly(DeblockStrength_combobox, encoder.Deblock_Strength + 6);
    SelectQuietly(RefFrames_combobox, encoder.RefFrames - 1);
    SelectQuietly(KeyInterval_combobox, encoder.KeyFrequency - 1);
    SelectQuietly(BFrames_combobox, encoder.Bframes);
    SelectQuietly(BAdaptive_combobox, encoder.BAdaptive);
    SelectQuietly(PartitionsIntra_combobox, encoder.PartitionsIntra);
    SelectQuietly(PartitionsInter_combobox, encoder.PartitionsInter);
    SelectQuietly(Subpixel_combobox, encoder.Subpixel);
    SelectText(Deinterlace_combobox, encoder.Interlaced != 0 ? "Yes" : "No");
    SelectText(Videobitrate_combobox, session.state.videoBitrateText);
    SelectText(Audiobitrate_combobox, session.state.audioBitrateText);
}

void TMain_form::Handle(const std::function<void()>& handler)
{
    // A handler that arrives while another runs (from a pop-up's or a wait's event loop) runs
    // after it, in order.
    if (handlerDepth_ > 0) {
        pendingHandlers_.push_back(handler);
        return;
    }
    ++handlerDepth_;
    try {
        handler();
    } catch (const std::exception& error) {
        QMessageBox::critical(this, kApplicationTitle, QString::fromStdString(error.what()));
    }
    --handlerDepth_;
    RefreshControls();
    if (!pendingHandlers_.empty()) {
        std::function<void()> next = std::move(pendingHandlers_.front());
        pendingHandlers_.pop_front();
        Handle(next);
    }
}

void TMain_form::OnWindowMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    // The byte counts only add up; anything else is a handler of its own.
    if (message == WM_RTMP_SENT)
        session.OnWindowMessage(message, wParam, lParam);
    else
        Handle([this, message, wParam, lParam] { session.OnWindowMessage(message, wParam, lParam); });
}

void TMain_form::OpenAddress(const std::string& address)
{
    QDesktopServices::openUrl(QUrl(QString::fromStdString(address)));
}

// ---- Tab bar -----------------------------------------------------------------------------

void TMain_form::ShowTab(ImageButton* tab)
{
    for (ImageButton* other : {Broadcast_off_btn, Video_off_btn, Audio_off_btn, Encoder_off_btn, About_on_btn})
        other->setHighlighted(other == tab);
    RefreshControls();
}

void TMain_form::BringToFront(QWidget* page, bool withPreview)
{
    // Pages covered by the front one are hidden too, so that assistive technology reads only
    // what shows.
    for (QWidget* other : {Broadcast_panel, Video_Panel, Audio_Panel, Encoder_panel, About_Panel})
        other->setVisible(other == page);
    page->raise();
    for (QWidget* panel : {Video_preview, Volume_Control_panel}) panel->setVisible(withPreview);
    Audio_preview->setVisible(withPreview && session.state.audioOn);
    if (withPreview)
        for (QWidget* panel : {Video_preview, Audio_preview, Volume_Control_panel}) panel->raise();
}

void TMain_form::ShowFullPanel(QWidget* panel)
{
    for (QWidget* other : {Login_Panel, Main_Panel, Update_Panel}) other->setVisible(other == panel);
    panel->raise();
}

void TMain_form::Broadcast_off_btnClick()
{
    ShowTab(Broadcast_off_btn);
    BringToFront(Broadcast_panel, true);
}

void TMain_form::Video_off_btnClick()
{
    ShowTab(Video_off_btn);
    BringToFront(Video_Panel, true);
}

void TMain_form::Audio_off_btnClick()
{
    ShowTab(Audio_off_btn);
    BringToFront(Audio_Panel, true);
}

void TMain_form::Encoder_off_btnClick()
{
    ShowTab(Encoder_off_btn);
    BringToFront(Encoder_panel, false);
    session.Video_Encoder.Registry_Read();
}

void TMain_form::About_on_btnClick()
{
    ShowTab(About_on_btn);
    SetText(version_lbl, kFileVersion.toStdString());
    SetText(date_label, kVersionComments.toStdString());
    SetText(Application_name_lbl, kApplicationTitle.toStdString());
    for (QLabel* label : {Application_name_lbl, version_lbl, date_label})
        label->move((784 - label->width()) / 2, label->y());
    url_link_label->setParent(About_Panel);
    url_link_label->move((784 - url_link_label->width()) / 2, 170);
    url_link_label->show();
    BringToFront(About_Panel, false);
    url_link_label->raise();
}

void TMain_form::Ok_buttonClick()
{
    Broadcast_off_btnClick();
}

// ---- Login panel ---------------------------------------------------------------------------

void TMain_form::Login_btnClick()
{
    std::string error;
    if (!Login(session, Edit_Username->text().toStdString(), Edit_password->text().toStdString(), error)) {
        SetText(Error_Label, error);
        Error_Label->move((width() - Error_Label->width()) / 2, Error_Label->y());
        error_image->show();
        Error_Label->show();
        return;
    }
    error_image->hide();
    Error_Label->hide();
    SetText(user_lbl, Edit_Username->text().toStdString());
    user_lbl->move(704 - user_lbl->width(), user_lbl->y());
    ShowFullPanel(Main_Panel);
    for (QWidget* panel : {Video_preview, Audio_preview, Volume_Control_panel}) panel->raise();
    FillQuietly(channel_combobox, session.authentication->channels, session.channelPosition);
    ShowChannel();
    RefreshControls();
    TSoftwareUpdate update(settings, *updatePanel, LoadAppConfig().webSite, APP_VERSION, APP_PATH);
    if (update.CheckAfterLogin()) {  // the installer runs and replaces the program
        close();
        return;
    }
    if (!isVisible()) return;  // closed during the download
    SourcesAfterLogin(session, [this](int milliseconds) {
        RefreshControls();
        RepaintAndWait(this, milliseconds);
    });
}

void TMain_form::Logout_btnClick()
{
    if (!Logout(session)) return;
    url_link_label->setParent(Top_Panel_Login);
    url_link_label->move(768 - url_link_label->width(), 24);
    url_link_label->show();
    ShowFullPanel(Login_Panel);
}

void TMain_form::RememberMe(bool on)
{
    on ? RememberOn(settings) : RememberOff(settings);
    remember_off_button->setCheckedQuietly(on);
}

void TMain_form::forgot_pass_lblClick()
{
    OpenAddress(RecoveryUrl(Edit_Username->text().toStdString(), LoadAppConfig().webSite));
}

void TMain_form::ToggleChannelList()
{
    if (channel_combobox->view()->isVisible())
        channel_combobox->hidePopup();
    else
        channel_combobox->showPopup();
}

void TMain_form::channel_comboboxChange(int position)
{
    ChannelChange(session, position, pChannel_url);
    ShowChannel();
}

void TMain_form::ShowChannel()
{
    SelectQuietly(channel_combobox, session.channelPosition);
    if (session.channelPosition < 0) return;
    Channel_list_lbl->setText(QString::fromStdString(ChannelLabelText(session)));
    const std::string page = ChannelPageUrl(session);
    if (!page.empty()) pChannel_url = page;
}

// ---- Refresh ---------------------------------------------------------------------------------

void TMain_form::RefreshControls()
{
    const SessionState& state = session.state;
    const bool streaming = state.isStreaming;

    Video_off_btn->setEnabled(session.VideoTabEnabled());
    Audio_off_btn->setEnabled(session.AudioTabEnabled());
    Encoder_off_btn->setEnabled(session.EncoderTabEnabled());

    // Sources, channel and recording.
    Video_Checkbox_off->setCheckedQuietly(state.videoOn);
    Audio_Checkbox_off->setCheckedQuietly(state.audioOn);
    Video_Checkbox_off->setEnabled(state.sourceSwitchesEnabled);
    Audio_Checkbox_off->setEnabled(state.sourceSwitchesEnabled);
    channel_combobox->setEnabled(state.channelEnabled);
    channel_img->setEnabled(state.channelEnabled);
    const QColor labelColour = streaming ? VeltroColours::dimmed : VeltroColours::active;
    const Qt::CursorShape labelCursor = streaming ? Qt::ArrowCursor : Qt::PointingHandCursor;
    for (ClickLabel* label : {Send_Video_lbl, Send_Audio_lbl, Channel_list_lbl}) {
        SetTextColour(label, labelColour);
        label->setCursor(labelCursor);
    }
    Channel_lbl->setCursor(labelCursor);
    save_file_off->setCheckedQuietly(settings.Save_file == 1);
    save_file_off->setEnabled(state.saveFileEnabled);
    const bool recordingPath = session.RecordingPathEnabled();
    file_path_edit->setEnabled(recordingPath);
    browse_on_img->setVisible(recordingPath);
    browse_off_img->setVisible(!recordingPath);
    SetTextColour(Save_file_lbl, recordingPath ? VeltroColours::active : VeltroColours::dimmed);
    Save_file_lbl->setCursor(labelCursor);
    if (file_path_edit->text().toStdString() != state.file_path_edit)
        file_path_edit->setText(QString::fromStdString(state.file_path_edit));

    // Capture lists.
    FillQuietly(VideoSource1, session.choices.videoDevices, session.choices.videoDevicePosition);
    FillQuietly(Audiosource1, session.choices.audioDevices, session.choices.audioDevicePosition);
    FillQuietly(Videoformat_combobox, session.choices.formats, session.choices.formatSelection);
    std::vector<std::string> sizes;
    for (const SizeChoice& size : session.choices.Video_Input_Sizes) sizes.push_back(size.text);
    FillQuietly(Inputsize_combobox, sizes, session.choices.sizeSelection);
    FillQuietly(Samplerate_combobox, session.choices.sampleRates, session.choices.sampleRateSelection);
    SelectText(framerate_combobox, settings.Framerate);
    SelectText(Videobitrate_combobox, state.videoBitrateText);
    SelectText(Audiobitrate_combobox, state.audioBitrateText);
    Framerate_half_off->setCheckedQuietly(settings.Framerate_half == 1);
    Videodevice_lbl1->setText(state.videoOn ? VideoSource1->currentText() : QString());
    Audiodevice_lbl1->setText(state.audioOn ? Audiosource1->currentText() : QString());
    for (QWidget* control : {static_cast<QWidget*>(VideoSource1), static_cast<QWidget*>(Videobitrate_combobox),
                             static_cast<QWidget*>(Deinterlace_combobox), static_cast<QWidget*>(Device_settings_btn),
                             static_cast<QWidget*>(Resize_off)})
        control->setEnabled(state.videoControlsEnabled);
    for (QWidget* control : {Videoformat_combobox, Inputsize_combobox, framerate_combobox})
        control->setEnabled(state.videoControlsEnabled && state.captureFormatListsEnabled);
    for (QWidget* control : {Audiosource1, Channels_combobox, Audiobitrate_combobox})
        control->setEnabled(state.audioControlsEnabled);
    Samplerate_combobox->setEnabled(state.audioControlsEnabled && state.captureFormatListsEnabled);

    // Output size.
    Resize_off->setCheckedQuietly(settings.Output_resize == 1);
    const bool resizeOpen = session.ResizeFieldsEnabled();
    resize_width->setEnabled(resizeOpen);
    resize_height->setEnabled(resizeOpen);
    SetTextColour(Resize_lbl, resizeOpen ? VeltroColours::active : VeltroColours::dimmed);
    SetTextColour(x_lbl, resizeOpen ? VeltroColours::active : VeltroColours::dimmed);
    Resize_lbl->setCursor(state.videoOn && !streaming ? Qt::PointingHandCursor : Qt::ArrowCursor);
    if (resize_width->text().toStdString() != state.resizeWidthText)
        resize_width->setText(QString::fromStdString(state.resizeWidthText));
    if (resize_height->text().toStdString() != state.resizeHeightText)
        resize_height->setText(QString::fromStdString(state.resizeHeightText));

    // Preview, meters and volume.
    Preview_caption_lbl->setVisible(!state.videoOn);
    if (!state.videoOn) monitor1->clearPicture();
    Audio_preview->setVisible(state.audioOn && !Video_preview->isHidden());
    Volume_Control_panel->setEnabled(state.audioOn);
    RefreshMeters();
    RefreshVolume();

    // Broadcast: the front button, the status, the clock and the counters.
    Stream_btn->setVisible(state.front == FrontButton::Stream);
    StopStream_Btn->setVisible(state.front == FrontButton::StopStream);
    Stop_Reconnect_btn->setVisible(state.front == FrontButton::StopReconnect);
    Progress_status_lbl->setText(QString::fromStdString(state.status));
    SetTextColour(Progress_status_lbl, state.statusRed ? VeltroColours::error : VeltroColours::active);
    Progress_timer_lbl->setText(QString::fromStdString(state.clock));
    SetText(Progress_days_lbl, std::to_string(state.days));
    days_label->setVisible(state.daysVisible);
    Progress_days_lbl->setVisible(state.daysVisible);
    RefreshCounters();

    // Timers follow the session; the busy cursor too.
    for (auto [timer, on] : {std::pair{&Timer1, state.Timer1}, std::pair{&Connect_Timer, state.Connect_Timer},
                             std::pair{&Check_Stream, state.Check_Stream}}) {
        if (on && !timer->isActive()) timer->start();
        if (!on && timer->isActive()) timer->stop();
    }
    if (state.busyCursor != busyCursorShown_) {
        busyCursorShown_ = state.busyCursor;
        if (busyCursorShown_)
            QApplication::setOverrideCursor(Qt::WaitCursor);
        else
            QApplication::restoreOverrideCursor();
    }
}

void TMain_form::RefreshCounters()
{
    const SessionState& state = session.state;
    SetText(actualcounter_lbl, state.actualCounter);
    SetText(requiredcounter_lbl, state.requiredCounter);
    const int top = actualcounter_lbl->y();
    if (state.isStreaming) {
        // Right to left from "(kbps)": each label ends 4 pixels before the next; "/" 9 before the counter.
        actualcounter_lbl->move(kbps_lbl->x() - actualcounter_lbl->width() - 4, top);
        slash_lbl->move(actualcounter_lbl->x() - 9, top);
    } else {
        actualcounter_lbl->move(308, top);
        slash_lbl->move(301, top);
    }
    requiredcounter_lbl->move(slash_lbl->x() - 4 - requiredcounter_lbl->width(), top);
    // Shown ("---") from the start; after a broadcast the session's flag decides (device loss hides them).
    countersShown_ |= state.countersVisible;
    const bool visible = state.countersVisible || !countersShown_;
    for (QLabel* label : {actualcounter_lbl, requiredcounter_lbl, slash_lbl, kbps_lbl}) label->setVisible(visible);
}

void TMain_form::RefreshMeters()
{
    Left_meter->setLevel(session.state.leftLevel);
    Right_meter->setLevel(session.state.rightLevel);
}

void TMain_form::RefreshVolume()
{
    const SessionState& state = session.state;
    Volume_bar_img->setThumbTop(state.volumeThumbTop);
    Volume_lbl->setText(QString::fromStdString(state.volumeText));
    Mute_btn->setCheckedQuietly(state.muted);
    const Qt::CursorShape cursor = state.audioOn ? Qt::PointingHandCursor : Qt::ArrowCursor;
    Volume_bar_img->thumb()->setCursor(cursor);
    Mute_btn->setCursor(cursor);
}

// ---- Close -----------------------------------------------------------------------------------

void TMain_form::closeEvent(QCloseEvent* event)
{
    Timer1.stop();
    Connect_Timer.stop();
    Check_Stream.stop();
    // Nothing is written while a rebuild is under way.
    if (!session.state.isOnprogress) session.ShutdownCleanup(true);
    event->accept();
}
