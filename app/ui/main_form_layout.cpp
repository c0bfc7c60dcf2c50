// The main window's controls at their places, with their names, accessible names and colours.
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpressionValidator>

#include "app_info.h"
#include "click_label.h"
#include "image_button.h"
#include "main_form.h"
#include "palette.h"
#include "pipeline/bitrate_lists.h"
#include "widgets/level_meter_panel.h"
#include "widgets/monitor_panel.h"
#include "widgets/volume_slider.h"

namespace {

QWidget* Panel(QWidget* parent, const char* name, const QRect& geometry, const QColor& colour = VeltroColours::background)
{
    auto* panel = new QWidget(parent);
    panel->setObjectName(name);
    panel->setGeometry(geometry);
    QPalette colours = panel->palette();
    colours.setColor(QPalette::Window, colour);
    panel->setPalette(colours);
    panel->setAutoFillBackground(true);
    return panel;
}

QLabel* Text(QWidget* parent, const char* name, const QString& text, int x, int y,
             const QColor& colour = VeltroColours::active)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setTextFormat(Qt::PlainText);
    label->move(x, y);
    label->adjustSize();
    SetTextColour(label, colour);
    return label;
}

ClickLabel* Clickable(QWidget* parent, const char* name, const QString& text, int x, int y,
                      const QColor& colour = VeltroColours::active)
{
    auto* label = new ClickLabel(parent, name, text);
    label->move(x, y);
    label->adjustSize();
    label->setCursor(Qt::PointingHandCursor);
    SetTextColour(label, colour);
    return label;
}

// A list with its caption label, which is its buddy: assistive technology reads the caption as
// the list's name, and a click on the caption opens the list.
QComboBox* List(QWidget* parent, const char* name, const QString& caption, const QString& accessibleName,
                const QRect& geometry, const std::vector<std::string>& items, int captionX = 16)
{
    auto* label = new ClickLabel(parent, (std::string(name) + "_caption").c_str(), caption);
    label->move(captionX, geometry.y() + 4);
    label->adjustSize();
    label->setAccessibleName(accessibleName);
    SetTextColour(label, VeltroColours::active);
    auto* list = new QComboBox(parent);
    list->setObjectName(name);
    list->setGeometry(geometry);
    list->setAccessibleName(accessibleName);
    for (const std::string& item : items) list->addItem(QString::fromStdString(item));
    label->setBuddy(list);
    QObject::connect(label, &ClickLabel::clicked, list, [list] {
        if (!list->isEnabled()) return;
        list->setFocus();
        list->showPopup();
    });
    return list;
}

ImageButton* Switch(QWidget* parent, const char* name, const QString& accessibleName, int x, int y)
{
    auto* button = new ImageButton(parent, name, accessibleName, ":/ui/switch_off.svg", ":/ui/switch_on.svg");
    button->setGeometry(x, y, 40, 20);
    return button;
}

QLineEdit* Field(QWidget* parent, const char* name, const QString& accessibleName, const QRect& geometry)
{
    auto* field = new QLineEdit(parent);
    field->setObjectName(name);
    field->setAccessibleName(accessibleName);
    field->setGeometry(geometry);
    return field;
}

std::vector<std::string> Numbers(int from, int to)
{
    std::vector<std::string> items;
    for (int i = from; i <= to; ++i) items.push_back(std::to_string(i));
    return items;
}

}  // namespace

void TMain_form::BuildLoginPanel()
{
    Login_Panel = Panel(centralWidget(), "Login_Panel", QRect(0, 0, 784, 402));
    Top_Panel_Login = Panel(Login_Panel, "Top_Panel_Login", QRect(0, 0, 784, 63), VeltroColours::panelLight);
    auto* logo = new ImageButton(Top_Panel_Login, "Logo_img", "Veltro", ":/ui/logo.svg");
    logo->setGeometry(16, 14, 150, 36);
    logo->setFocusPolicy(Qt::NoFocus);
    logo->setCursor(Qt::ArrowCursor);
    url_link_label = new TextButton(Top_Panel_Login, "url_link_label", "Web site", "");

    Text(Login_Panel, "Login_title_lbl", "Log in to your account", 272, 96);
    Text(Login_Panel, "Username_caption_lbl", "User name", 272, 128, VeltroColours::secondary);
    Edit_Username = Field(Login_Panel, "Edit_Username", "User name", QRect(272, 146, 240, 28));
    Text(Login_Panel, "Password_caption_lbl", "Password", 272, 182, VeltroColours::secondary);
    Edit_password = Field(Login_Panel, "Edit_password", "Password", QRect(272, 200, 240, 28));
    remember_off_button = new ImageButton(Login_Panel, "remember_off_button", "Remember me", ":/ui/check_off.svg",
                                          ":/ui/check_on.svg");
    remember_off_button->setGeometry(272, 240, 18, 18);
    remember_me_lbl = Clickable(Login_Panel, "remember_me_lbl", "Remember me", 296, 240);
    forgot_pass_lbl = new TextButton(Login_Panel, "forgot_pass_lbl", "Forgot password", "Forgot password?");
    forgot_pass_lbl->resize(forgot_pass_lbl->sizeHint());
    forgot_pass_lbl->move(512 - forgot_pass_lbl->width(), 240);
    Login_btn = new ImageButton(Login_Panel, "Login_btn", "Log in", ":/ui/button.svg");
    Login_btn->setCaption("Log in", Qt::white, 14);
    Login_btn->setGeometry(272, 274, 240, 32);

    error_image = new QFrame(Login_Panel);
    error_image->setObjectName("error_image");
    error_image->setGeometry(0, 330, 784, 32);
    error_image->setStyleSheet("QFrame#error_image { background: #5a2326; border-top: 1px solid #b83232;"
                               " border-bottom: 1px solid #b83232; }");
    Error_Label = Text(Login_Panel, "Error_Label", "Login Error:  Invalid username/password. Please try again. ", 0,
                       338);
    error_image->hide();
    Error_Label->hide();
}

void TMain_form::BuildTabBar()
{
    Top_Panel_Main = Panel(Main_Panel, "Top_Panel_Main", QRect(0, 0, 784, 63), VeltroColours::panelLight);
    struct Tab {
        ImageButton*& button;
        const char* name;
        const char* text;
        int width;
    };
    Tab tabs[] = {{Broadcast_off_btn, "Broadcast_off_btn", "Broadcast", 104},
                  {Video_off_btn, "Video_off_btn", "Video", 84},
                  {Audio_off_btn, "Audio_off_btn", "Audio", 84},
                  {Encoder_off_btn, "Encoder_off_btn", "Encoder Settings", 136},
                  {About_on_btn, "About_on_btn", "About", 84}};
    int x = 8;
    for (Tab& tab : tabs) {
        tab.button = new ImageButton(Top_Panel_Main, tab.name, tab.text, ":/ui/tab_off.svg", ":/ui/tab_on.svg",
                                     ":/ui/tab_disabled.svg");
        tab.button->setCheckable(false);  // a tab is pressed; the shown page highlights it
        tab.button->setCaption(tab.text, Qt::white, 13);
        tab.button->setGeometry(x, 23, tab.width, 40);
        x += tab.width + 4;
    }
    user_caption_lbl = Text(Top_Panel_Main, "user_caption_lbl", "You are logged in as:", 0, 12, VeltroColours::dimmed);
    user_caption_lbl->move(704 - user_caption_lbl->width(), 12);
    user_lbl = Text(Top_Panel_Main, "user_lbl", "", 704, 32);
    Logout_btn = new ImageButton(Top_Panel_Main, "Logout_btn", "Log out", ":/ui/button_grey.svg");
    Logout_btn->setCaption("Log out", Qt::white, 11);
    Logout_btn->setGeometry(712, 18, 64, 26);
}

void TMain_form::BuildBroadcastPage()
{
    QWidget* page = Broadcast_panel = Panel(Main_Panel, "Broadcast_panel", QRect(0, 63, 784, 339));

    channel_combobox = new QComboBox(page);
    channel_combobox->setObjectName("channel_combobox");
    channel_combobox->setGeometry(16, 14, 364, 34);
    channel_list_panel = new QFrame(page);
    channel_list_panel->setObjectName("channel_list_panel");
    channel_list_panel->setGeometry(16, 14, 364, 34);
    channel_list_panel->setStyleSheet("QFrame#channel_list_panel { background: #34383c; border: 1px solid #4a4f55;"
                                      " border-radius: 4px; }");
    Channel_lbl = Clickable(channel_list_panel, "Channel_lbl", "Channel:", 10, 9, VeltroColours::dimmed);
    Channel_list_lbl = Clickable(channel_list_panel, "Channel_list_lbl", "", 76, 9);
    Channel_list_lbl->resize(248, 18);
    channel_img = new ImageButton(channel_list_panel, "channel_img", "Channel", ":/ui/arrow.svg");
    channel_img->setGeometry(332, 5, 24, 24);
    url_btn = new ImageButton(page, "url_btn", "Open channel page", ":/ui/link.svg");
    url_btn->setGeometry(16, 56, 26, 26);
    Text(page, "url_caption_lbl", "Channel page", 48, 61, VeltroColours::secondary);
    Launch_chat_btn = new ImageButton(page, "Launch_chat_btn", "Open chat", ":/ui/chat.svg");
    Launch_chat_btn->setGeometry(150, 56, 26, 26);
    Text(page, "chat_caption_lbl", "Chat", 182, 61, VeltroColours::secondary);

    Video_Checkbox_off = Switch(page, "Video_Checkbox_off", "Send Video", 16, 98);
    Send_Video_lbl = Clickable(page, "Send_Video_lbl", "Send Video", 64, 99);
    Videodevice_lbl1 = Text(page, "Videodevice_lbl1", "", 160, 99, VeltroColours::secondary);
    Videodevice_lbl1->resize(220, 18);
    Audio_Checkbox_off = Switch(page, "Audio_Checkbox_off", "Send Audio", 16, 128);
    Send_Audio_lbl = Clickable(page, "Send_Audio_lbl", "Send Audio", 64, 129);
    Audiodevice_lbl1 = Text(page, "Audiodevice_lbl1", "", 160, 129, VeltroColours::secondary);
    Audiodevice_lbl1->resize(220, 18);
    save_file_off = Switch(page, "save_file_off", "Save to file", 16, 158);
    Save_file_lbl = Clickable(page, "Save_file_lbl", "Save to file", 64, 159, VeltroColours::dimmed);
    file_path_edit = Field(page, "file_path_edit", "Recording file", QRect(16, 184, 324, 24));
    file_path_edit->setMaxLength(200);
    browse_on_img = new ImageButton(page, "browse_on_img", "Browse", ":/ui/browse_on.svg");
    browse_on_img->setGeometry(348, 184, 28, 24);
    browse_off_img = new ImageButton(page, "browse_off_img", "Browse", ":/ui/browse_off.svg");
    browse_off_img->setGeometry(348, 184, 28, 24);
    browse_off_img->setCursor(Qt::ArrowCursor);
    browse_off_img->setFocusPolicy(Qt::NoFocus);

    Status_caption_lbl = Text(page, "Status_caption_lbl", "Status:", 16, 226, VeltroColours::dimmed);
    Progress_status_lbl = Text(page, "Progress_status_lbl", "Idle", 120, 226);
    Progress_status_lbl->resize(260, 18);
    Timer_caption_lbl = Text(page, "Timer_caption_lbl", "Session Timer:", 16, 250, VeltroColours::dimmed);
    Progress_timer_lbl = Text(page, "Progress_timer_lbl", "00:00:00", 120, 250);
    Progress_timer_lbl->resize(70, 18);
    days_label = Text(page, "days_label", "Days", 200, 250, VeltroColours::dimmed);
    Progress_days_lbl = Text(page, "Progress_days_lbl", "0", 240, 250);
    days_label->hide();
    Progress_days_lbl->hide();
    Bandwidth_caption_lbl = Text(page, "Bandwidth_caption_lbl", "Bandwidth:", 16, 274, VeltroColours::dimmed);
    Required_caption_lbl = Text(page, "Required_caption_lbl", "Required / Outgoing", 120, 274, VeltroColours::secondary);
    slash_lbl = Text(page, "slash_lbl", "/", 301, 296, VeltroColours::secondary);
    actualcounter_lbl = Text(page, "actualcounter_lbl", "---", 308, 296, VeltroColours::counter);
    kbps_lbl = Text(page, "kbps_lbl", "(kbps)", 340, 296, VeltroColours::secondary);
    requiredcounter_lbl = Text(page, "requiredcounter_lbl", "---", 0, 296, VeltroColours::counter);
    requiredcounter_lbl->move(slash_lbl->x() - 4 - requiredcounter_lbl->width(), 296);

    Stream_btn = new ImageButton(page, "Stream_btn", "Start broadcast", ":/ui/stream.svg", {}, ":/ui/stream_disabled.svg");
    StopStream_Btn = new ImageButton(page, "StopStream_Btn", "Stop broadcast", ":/ui/stop.svg");
    Stop_Reconnect_btn = new ImageButton(page, "Stop_Reconnect_btn", "Stop reconnecting", ":/ui/stop_reconnect.svg");
    Stream_btn->setCaption("      Go Live", Qt::white, 15);
    StopStream_Btn->setCaption("      Stop", Qt::white, 15);
    Stop_Reconnect_btn->setCaption("      Stop", Qt::white, 15);
    for (ImageButton* button : {Stop_Reconnect_btn, StopStream_Btn, Stream_btn}) button->setGeometry(512, 222, 160, 44);
}

void TMain_form::BuildVideoPage()
{
    QWidget* page = Video_Panel = Panel(Main_Panel, "Video_Panel", QRect(0, 63, 784, 339));
    VideoSource1 = List(page, "VideoSource1", "Video device:", "Video device", QRect(130, 12, 250, 24), {});
    Videoformat_combobox = List(page, "Videoformat_combobox", "Video format:", "Video format", QRect(130, 44, 110, 24), {});
    Inputsize_combobox = List(page, "Inputsize_combobox", "Input size:", "Input size", QRect(130, 76, 110, 24), {});
    framerate_combobox = List(page, "framerate_combobox", "Frame rate:", "Frame rate", QRect(130, 108, 110, 24),
                              kFramerateItems);
    Videobitrate_combobox = List(page, "Videobitrate_combobox", "Bit Rate (kbps):", "Video bit rate",
                                 QRect(130, 140, 110, 24), kVideoBitrateItems);
    Deinterlace_combobox = List(page, "Deinterlace_combobox", "Deinterlace:", "Deinterlace", QRect(130, 172, 110, 24),
                                {"Yes", "No"});
    Deinterlace_combobox->setFocusPolicy(Qt::StrongFocus);
    Device_settings_btn = new ImageButton(page, "Device_settings_btn", "Device settings", ":/ui/gear.svg");
    Device_settings_btn->setCaption("      Settings", Qt::white, 11);
    Device_settings_btn->setGeometry(260, 44, 120, 26);

    Resize_off = Switch(page, "Resize_off", "Resize Output", 16, 216);
    Resize_lbl = Clickable(page, "Resize_lbl", "Resize Output", 64, 217, VeltroColours::dimmed);
    resize_width = Field(page, "resize_width", "Output width", QRect(130, 244, 60, 24));
    x_lbl = Text(page, "x_lbl", "x", 197, 248, VeltroColours::dimmed);
    resize_height = Field(page, "resize_height", "Output height", QRect(210, 244, 60, 24));
    // Digits only; backspace still edits.
    for (QLineEdit* field : {resize_width, resize_height})
        field->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), field));
}

void TMain_form::BuildAudioPage()
{
    QWidget* page = Audio_Panel = Panel(Main_Panel, "Audio_Panel", QRect(0, 63, 784, 339));
    Audiosource1 = List(page, "Audiosource1", "Audio device:", "Audio device", QRect(130, 12, 250, 24), {});
    Samplerate_combobox = List(page, "Samplerate_combobox", "Sample rate:", "Sample rate", QRect(130, 44, 110, 24), {});
    Channels_combobox = List(page, "Channels_combobox", "Channels:", "Channels", QRect(130, 76, 110, 24), {"Stereo"});
    Audiobitrate_combobox = List(page, "Audiobitrate_combobox", "Bit Rate (kbps):", "Audio bit rate",
                                 QRect(130, 108, 110, 24), kAudioBitrateItems);
}

void TMain_form::BuildEncoderPage()
{
    QWidget* page = Encoder_panel = Panel(Main_Panel, "Encoder_panel", QRect(0, 63, 784, 339));
    const int w = 190;
    int y = 14;
    auto row = [&](const char* name, const char* caption, const char* accessibleName,
                   const std::vector<std::string>& items) {
        QComboBox* list = List(page, name, caption, accessibleName, QRect(170, y, w, 24), items);
        y += 34;
        return list;
    };
    Level_combobox = row("Level_combobox", "Level:", "Level",
                         {"Level 1", "Level 1b", "Level 1.1", "Level 1.2", "Level 1.3", "Level 2", "Level 2.1",
                          "Level 2.2", "Level 3", "Level 3.1", "Level 3.2", "Level 4", "Level 4.1", "Level 4.2",
                          "Level 5", "Level 5.1"});
    RefFrames_combobox = row("RefFrames_combobox", "Reference Frames:", "Reference Frames", Numbers(1, 9));
    std::vector<std::string> intervals{"1  second"};
    for (int i = 2; i <= 9; ++i) intervals.push_back(std::to_string(i) + "  seconds");
    intervals.push_back("10 seconds");
    KeyInterval_combobox = row("KeyInterval_combobox", "Keyframe interval:", "Keyframe interval", intervals);
    BFrames_combobox = row("BFrames_combobox", "B-Frames:", "B-Frames", Numbers(0, 8));
    BAdaptive_combobox = row("BAdaptive_combobox", "Adaptive B-Frames:", "Adaptive B-Frames",
                             {"Disabled", "Fast", "Optimal"});
    PartitionsIntra_combobox = row("PartitionsIntra_combobox", "Intra Partitions:", "Intra Partitions",
                                   {"Low (16x16)", "High (4x4)"});
    PartitionsInter_combobox = row("PartitionsInter_combobox", "Inter Partitions:", "Inter Partitions",
                                   {"Low   (16x16)", "Mid    (16x16,8x8)", "High  (16x16,8x8,4x4) "});
    Subpixel_combobox = row("Subpixel_combobox", "Subpixel refine:", "Subpixel refine",
                            {"no subpixel", "Half - pixel low", "Half - pixel high", "Quarter - pixel low",
                             "Quarter - pixel high"});

    struct SwitchRow {
        ImageButton*& button;
        const char* name;
        const char* caption;
        const char* accessibleName;
    };
    SwitchRow switches[] = {{Parallel_off, "Parallel_off", "Parralel Encoding", "Parralel Encoding"},
                            {CABAC_off, "CABAC_off", "CABAC", "CABAC"},
                            {Deblock_off, "Deblock_off", "Deblocking Filter:", "Deblocking Filter"},
                            {Framerate_half_off, "Framerate_half_off", "Half-framerate(fps)", "Half-framerate(fps)"}};
    y = 16;
    for (SwitchRow& row : switches) {
        row.button = Switch(page, row.name, row.accessibleName, 420, y);
        ClickLabel* caption = Clickable(page, (std::string(row.name) + "_lbl").c_str(), row.caption, 468, y + 1);
        ImageButton* button = row.button;
        // The text flips the switch as a click on its image does.
        connect(caption, &ClickLabel::clicked, button, [button] {
            if (button->isEnabled()) button->toggle();
        });
        y += 34;
    }
    DeblockStrength_combobox = List(page, "DeblockStrength_combobox", "Strength:", "Deblocking strength",
                                    QRect(640, 84, 120, 24),
                                    {"-6 (weak)", "-5", "-4", "-3", "-2", "-1", "0 (norm.)", "1", "2", "3", "4", "5",
                                     "6 (strong)"},
                                    580);
    // Lists that take the keyboard focus first when their caption opens them.
    for (QComboBox* list : {Level_combobox, RefFrames_combobox, KeyInterval_combobox, BFrames_combobox,
                            BAdaptive_combobox, PartitionsIntra_combobox, PartitionsInter_combobox, Subpixel_combobox})
        list->setFocusPolicy(Qt::StrongFocus);
}

void TMain_form::BuildAboutPage()
{
    QWidget* page = About_Panel = Panel(Main_Panel, "About_Panel", QRect(0, 63, 784, 339));
    auto* logo = new ImageButton(page, "About_logo_img", "Veltro", ":/ui/logo.svg");
    logo->setGeometry(317, 20, 150, 36);
    logo->setFocusPolicy(Qt::NoFocus);
    logo->setCursor(Qt::ArrowCursor);
    Application_name_lbl = Text(page, "Application_name_lbl", "", 0, 76);
    QFont large = Application_name_lbl->font();
    large.setPixelSize(20);
    large.setBold(true);
    Application_name_lbl->setFont(large);
    version_lbl = Text(page, "version_lbl", "", 0, 112, VeltroColours::secondary);
    date_label = Text(page, "date_label", "", 0, 136, VeltroColours::secondary);
    Ok_button = new ImageButton(page, "Ok_button", "OK", ":/ui/button.svg");
    Ok_button->setCaption("OK");
    Ok_button->setGeometry(342, 260, 100, 30);
}

void TMain_form::BuildPreviewArea()
{
    Video_preview = Panel(Main_Panel, "Video_preview", QRect(432, 75, 320, 180), Qt::black);
    monitor1 = new TMonitor(Video_preview);
    monitor1->setGeometry(0, 0, 320, 180);
    monitor1->setToolTipDuration(2000);
    Preview_caption_lbl = Text(Video_preview, "Preview_caption_lbl", "Video is Disabled", 0, 0, VeltroColours::dimmed);
    Preview_caption_lbl->setGeometry(0, 80, 320, 20);
    Preview_caption_lbl->setAlignment(Qt::AlignCenter);
    Preview_caption_lbl->setAttribute(Qt::WA_TransparentForMouseEvents);

    Audio_preview = Panel(Main_Panel, "Audio_preview", QRect(756, 75, 24, 184));
    Left_meter = new TLevelMeter(Audio_preview, 180);
    Left_meter->setObjectName("Left_meter");
    Left_meter->move(2, 0);
    Right_meter = new TLevelMeter(Audio_preview, 180);
    Right_meter->setObjectName("Right_meter");
    Right_meter->move(14, 0);
    Audio_preview->hide();

    Volume_Control_panel = Panel(Main_Panel, "Volume_Control_panel", QRect(392, 75, 36, 212));
    Volume_bar_img = new TVolumeSlider(Volume_Control_panel);
    Volume_bar_img->setObjectName("Volume_bar_img");
    Volume_bar_img->setAccessibleName("Volume");
    Volume_bar_img->setGeometry(0, 0, 36, 170);
    Volume_bar_img->setThumbTop(83);
    Volume_lbl = Text(Volume_Control_panel, "Volume_lbl", "", 0, 170, VeltroColours::secondary);
    Volume_lbl->setGeometry(0, 170, 36, 16);
    Volume_lbl->setAlignment(Qt::AlignCenter);
    Mute_btn = new ImageButton(Volume_Control_panel, "Mute_btn", "Mute", ":/ui/speaker.svg", ":/ui/speaker_muted.svg");
    Mute_btn->setGeometry(5, 188, 26, 22);
}

void TMain_form::BuildUpdatePanel()
{
    Update_Panel = Panel(centralWidget(), "Update_Panel", QRect(0, 0, 784, 402));
}

void TMain_form::BuildMainPanel()
{
    Main_Panel = Panel(centralWidget(), "Main_Panel", QRect(0, 0, 784, 402));
    BuildTabBar();
    BuildAboutPage();
    BuildEncoderPage();
    BuildAudioPage();
    BuildVideoPage();
    BuildBroadcastPage();
    BuildPreviewArea();
}
