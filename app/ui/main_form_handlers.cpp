// Which handler each control runs. Every handler goes through Handle(), which refreshes the
// controls afterwards; switches act on toggled(), which assistive technology's Toggle also emits.
#include <QComboBox>
#include <QFileDialog>
#include <QLineEdit>

#include "click_label.h"
#include "image_button.h"
#include "main_form.h"
#include "session/account_session.h"
#include "propframe/property_frame.h"
#include "widgets/monitor_panel.h"
#include "widgets/preview_form.h"
#include "widgets/volume_slider.h"

void TMain_form::ConnectHandlers()
{
    auto on = [this](auto* sender, auto signal, auto handler) {
        connect(sender, signal, this, [this, handler] { Handle(handler); });
    };
    auto onToggle = [this](QAbstractButton* button, std::function<void(bool)> handler) {
        connect(button, &QAbstractButton::toggled, this,
                [this, handler](bool checked) { Handle([handler, checked] { handler(checked); }); });
    };
    auto onChoice = [this](QComboBox* list, std::function<void(int)> handler) {
        connect(list, &QComboBox::activated, this,
                [this, handler](int position) { Handle([handler, position] { handler(position); }); });
    };

    // Tabs.
    on(Broadcast_off_btn, &QAbstractButton::clicked, [this] { Broadcast_off_btnClick(); });
    on(Video_off_btn, &QAbstractButton::clicked, [this] { Video_off_btnClick(); });
    on(Audio_off_btn, &QAbstractButton::clicked, [this] { Audio_off_btnClick(); });
    on(Encoder_off_btn, &QAbstractButton::clicked, [this] { Encoder_off_btnClick(); });
    on(About_on_btn, &QAbstractButton::clicked, [this] { About_on_btnClick(); });
    on(Ok_button, &QAbstractButton::clicked, [this] { Ok_buttonClick(); });

    // Login panel. Enter logs in from the password field only.
    on(Login_btn, &QAbstractButton::clicked, [this] { Login_btnClick(); });
    on(Edit_password, &QLineEdit::returnPressed, [this] { Login_btnClick(); });
    on(Logout_btn, &QAbstractButton::clicked, [this] { Logout_btnClick(); });
    onToggle(remember_off_button, [this](bool checked) { RememberMe(checked); });
    on(remember_me_lbl, &ClickLabel::clicked, [this] { RememberMe(settings.remember != 1); });
    on(forgot_pass_lbl, &QAbstractButton::clicked, [this] { forgot_pass_lblClick(); });
    on(url_link_label, &QAbstractButton::clicked,
       [this] { OpenAddress("http://" + url_link_label->text().toStdString()); });

    // Channel.
    on(channel_img, &QAbstractButton::clicked, [this] { ToggleChannelList(); });
    for (ClickLabel* label : {Channel_lbl, Channel_list_lbl})
        on(label, &ClickLabel::clicked, [this] {
            if (session.state.streamFlag != 1) ToggleChannelList();
        });
    onChoice(channel_combobox, [this](int position) { channel_comboboxChange(position); });
    on(url_btn, &QAbstractButton::clicked, [this] { OpenAddress(pChannel_url); });
    on(Launch_chat_btn, &QAbstractButton::clicked, [this] {
        if (const std::string chat = ChatUrl(session); !chat.empty()) OpenAddress(chat);
    });

    // Sources and capture choices.
    onToggle(Video_Checkbox_off, [this](bool checked) { checked ? session.SwitchVideoOn() : session.SwitchVideoOff(); });
    onToggle(Audio_Checkbox_off, [this](bool checked) { checked ? session.SwitchAudioOn() : session.SwitchAudioOff(); });
    on(Send_Video_lbl, &ClickLabel::clicked, [this] { session.Send_Video_lblClick(); });
    on(Send_Audio_lbl, &ClickLabel::clicked, [this] { session.Send_Audio_lblClick(); });
    onChoice(VideoSource1, [this](int position) { session.ChooseVideoDevice(position); });
    onChoice(Audiosource1, [this](int position) { session.ChooseAudioDevice(position); });
    onChoice(Videoformat_combobox, [this](int position) { session.ColorFormatChange(position); });
    onChoice(Inputsize_combobox, [this](int position) { session.VideoSizeChange(position); });
    onChoice(framerate_combobox, [this](int position) {
        session.FramerateChange(framerate_combobox->itemText(position).toStdString());
    });
    onChoice(Samplerate_combobox, [this](int position) { session.SampleRateChange(position); });
    session.showPropertyPages = [this](IBaseFilter* filter, const CAUUID& pages) {
        IUnknown* objects[] = {filter};
        if (FAILED(OleCreatePropertyFrame(this, 0, 0, u"Video capture", 1, objects, pages.cElems, pages.pElems)))
            settings.Log("Cannot display property page");
    };
    on(Device_settings_btn, &QAbstractButton::clicked, [this] { session.DeviceSettingsClick(); });

    // Output size.
    onToggle(Resize_off, [this](bool checked) { checked ? session.ResizeOutputOn() : session.ResizeOutputOff(); });
    on(Resize_lbl, &ClickLabel::clicked, [this] { session.Resize_Output_lblClick(); });
    connect(resize_width, &QLineEdit::textEdited, this, [this](const QString& text) {
        Handle([this, text] { session.resize_widthChange(text.toStdString()); });
    });
    connect(resize_height, &QLineEdit::textEdited, this, [this](const QString& text) {
        Handle([this, text] { session.resize_heightChange(text.toStdString()); });
    });

    // Recording.
    onToggle(save_file_off, [this](bool checked) { checked ? session.RecordingOn() : session.RecordingOff(); });
    on(Save_file_lbl, &ClickLabel::clicked, [this] { session.Save_file_lblClick(); });
    on(browse_on_img, &QAbstractButton::clicked, [this] {
        // The program asks its own "File exists, overwrite?" question, so the dialog does not.
        const QString chosen =
            QFileDialog::getSaveFileName(this, "Save to file", QString::fromStdString(settings.File_path),
                                         "MP4 (*.mp4)", nullptr, QFileDialog::DontConfirmOverwrite);
        if (!chosen.isEmpty()) session.BrowseChosen(chosen.toStdString());
    });
    // textChanged, since assistive technology sets the text without editing signals; the
    // window's own refresh writes what the session already holds.
    connect(file_path_edit, &QLineEdit::textChanged, this, [this](const QString& text) {
        if (text.toStdString() != session.state.file_path_edit)
            Handle([this, text] { session.file_path_editChange(text.toStdString()); });
    });

    // Volume.
    // A move that comes while another handler runs (a rebuild's wait) leaves the thumb in place.
    Volume_bar_img->setMoveHandler([this](int top) {
        if (handlerDepth_ > 0) return false;
        const bool moved = session.Volume_bar_imgMouseMove(top);
        RefreshVolume();
        return moved;
    });
    onToggle(Mute_btn, [this](bool checked) { session.SetMuted(checked); });

    // Broadcast.
    on(Stream_btn, &QAbstractButton::clicked, [this] { session.Stream_btnClick(); });
    on(StopStream_Btn, &QAbstractButton::clicked, [this] { session.StopBroadcast(); });
    on(Stop_Reconnect_btn, &QAbstractButton::clicked, [this] { session.Stop_Reconnect_btnClick(); });

    // Timers: the meters draw whenever their tick comes; the clock and the connection check are
    // handlers (a tick that comes while another handler runs is dropped, the next one counts).
    connect(&Timer1, &QTimer::timeout, this, [this] {
        session.Timer1Timer();
        RefreshMeters();
    });
    connect(&Connect_Timer, &QTimer::timeout, this, [this] {
        if (handlerDepth_ == 0) Handle([this] { session.Connec_TimerTimer(); });
    });
    connect(&Check_Stream, &QTimer::timeout, this, [this] {
        if (handlerDepth_ == 0) Handle([this] { session.Check_StreamTimer(); });
    });

    // Detached preview: a double click on the picture while a renderer runs.
    detach_ = new PreviewDetach(this, monitor1);
    connect(monitor1, &TMonitor::doubleClicked, this, [this] {
        if (session.state.videoOn && session.pipeline.HasGraph())
            detach_->Detach(settings.Video_width, settings.Video_height);
    });
    connect(detach_, &PreviewDetach::reattached, this, [this] {
        for (QWidget* panel : {Video_preview, Audio_preview, Volume_Control_panel}) panel->raise();
    });
}

void TMain_form::ConnectEncoderHandlers()
{
    TVideo_Encoder& encoder = session.Video_Encoder;
    // Each list writes its value at once: the value is the position plus an offset.
    struct ListValue {
        QComboBox* list;
        const char* name;
        int offset;
    };
    for (ListValue value : {ListValue{Level_combobox, "Level", 0}, ListValue{DeblockStrength_combobox, "DeblockStrength", -6},
                            ListValue{RefFrames_combobox, "RefFrames", 1}, ListValue{BFrames_combobox, "BFrames", 0},
                            ListValue{BAdaptive_combobox, "BAdaptive", 0},
                            ListValue{PartitionsIntra_combobox, "PartitionsIntra", 0},
                            ListValue{PartitionsInter_combobox, "PartitionsInter", 0},
                            ListValue{Subpixel_combobox, "Subpixel", 0}})
        connect(value.list, &QComboBox::activated, this, [this, &encoder, value](int position) {
            Handle([&encoder, value, position] { encoder.Set_value(value.name, position + value.offset); });
        });
    connect(KeyInterval_combobox, &QComboBox::activated, this,
            [this](int position) { Handle([this, position] { session.KeyframeIntervalChange(position); }); });
    connect(Deinterlace_combobox, &QComboBox::activated, this, [this, &encoder](int position) {
        Handle([this, &encoder, position] { encoder.Set_Interlace(Deinterlace_combobox->itemText(position) == "Yes"); });
    });

    // Switches write 1 or 0 and their field.
    struct SwitchValue {
        ImageButton* button;
        const char* name;
        int TVideo_Encoder::*field;
    };
    for (SwitchValue value : {SwitchValue{Parallel_off, "Parallel", &TVideo_Encoder::Parallel},
                              SwitchValue{CABAC_off, "CABAC", &TVideo_Encoder::CABAC},
                              SwitchValue{Deblock_off, "Deblock", &TVideo_Encoder::Deblock}})
        connect(value.button, &QAbstractButton::toggled, this, [this, &encoder, value](bool checked) {
            Handle([&encoder, value, checked] {
                encoder.*value.field = checked ? 1 : 0;
                encoder.Set_value(value.name, checked ? 1 : 0);
            });
        });
    connect(Framerate_half_off, &QAbstractButton::toggled, this,
            [this](bool checked) { Handle([this, checked] { session.HalfFramerateChange(checked); }); });
    connect(Videobitrate_combobox, &QComboBox::activated, this, [this](int position) {
        Handle([this, position] { session.VideoBitrateChange(Videobitrate_combobox->itemText(position).toStdString()); });
    });
    connect(Audiobitrate_combobox, &QComboBox::activated, this, [this](int position) {
        Handle([this, position] { session.AudioBitrateChange(Audiobitrate_combobox->itemText(position).toStdString()); });
    });
}
