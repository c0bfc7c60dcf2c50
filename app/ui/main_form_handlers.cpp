// Which handler each control runs. Every handler goes through Handle(), which refreshes the
// controls afterwards.
#include <QComboBox>
#include <QLineEdit>

#include "click_label.h"
#include "image_button.h"
#include "main_form.h"
#include "pipeline/bitrate_lists.h"
#include "pipeline/encoder_settings.h"

void TMain_form::ConnectHandlers()
{
    auto on = [this](auto* sender, auto signal, auto handler) {
        connect(sender, signal, this, [this, handler] { Handle(handler); });
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
    connect(remember_off_button, &QAbstractButton::toggled, this, [this](bool checked) {
        Handle([this, checked] { RememberMe(checked); });
    });
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
    connect(channel_combobox, &QComboBox::activated, this,
            [this](int position) { Handle([this, position] { channel_comboboxChange(position); }); });
    on(url_btn, &QAbstractButton::clicked, [this] { OpenAddress(pChannel_url); });
    on(Launch_chat_btn, &QAbstractButton::clicked, [this] {
        const int position = channel_combobox->currentIndex();
        if (session.authentication && position >= 0 && position < int(session.authentication->chats.size()))
            OpenAddress(session.authentication->chats[position]);
    });

    // Sources.
    connect(Video_Checkbox_off, &QAbstractButton::toggled, this, [this](bool checked) {
        Handle([this, checked] { checked ? session.SwitchVideoOn() : session.SwitchVideoOff(); });
    });
    connect(Audio_Checkbox_off, &QAbstractButton::toggled, this, [this](bool checked) {
        Handle([this, checked] { checked ? session.SwitchAudioOn() : session.SwitchAudioOff(); });
    });
    connect(VideoSource1, &QComboBox::activated, this,
            [this](int position) { Handle([this, position] { session.ChooseVideoDevice(position); }); });
    connect(Audiosource1, &QComboBox::activated, this,
            [this](int position) { Handle([this, position] { session.ChooseAudioDevice(position); }); });
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
    connect(KeyInterval_combobox, &QComboBox::activated, this, [this, &encoder](int position) {
        Handle([this, &encoder, position] {
            encoder.Set_KeyframeInterval(position + 1, WholeFrameRate(framerate_combobox->currentText().toStdString()));
        });
    });
    connect(Deinterlace_combobox, &QComboBox::activated, this, [this, &encoder](int position) {
        Handle([this, &encoder] { encoder.Set_Interlace(Deinterlace_combobox->currentText() == "Yes" ? 1 : 0); });
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
    connect(Framerate_half_off, &QAbstractButton::toggled, this, [this](bool checked) {
        Handle([this, checked] {
            settings.Framerate_half = checked ? 1 : 0;
            session.pipeline.SetHalfFrameRate(checked);
        });
    });

    // Bit rates: registry values, then the required total.
    connect(Videobitrate_combobox, &QComboBox::activated, this, [this, &encoder](int) {
        Handle([this, &encoder] {
            session.state.videoBitrateText = Videobitrate_combobox->currentText().toStdString();
            encoder.Set_Bitrate(BitrateNumber(session.state.videoBitrateText));
        });
    });
    connect(Audiobitrate_combobox, &QComboBox::activated, this, [this](int) {
        Handle([this] {
            session.state.audioBitrateText = Audiobitrate_combobox->currentText().toStdString();
            session.Audio_Encoder.Set_Bitrate(BitrateNumber(session.state.audioBitrateText) * 1000);
        });
    });
}
