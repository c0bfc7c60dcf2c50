// TMain_form: the broadcaster's main window. It lays out the controls and adapts the
// widget-free BroadcastSession to them: a handler calls the session, then the controls are
// refreshed from the session's state.
#pragma once

#include <QMainWindow>
#include <QTimer>
#include <deque>
#include <memory>

#include "popup_form.h"
#include "session/broadcast_session.h"
#include "settings/program_settings.h"

class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class ClickLabel;
class ImageButton;
class TextButton;
class TMonitor;
class TLevelMeter;
class TVolumeSlider;
class PreviewDetach;
class UpdatePanel;

class TMain_form : public QMainWindow {
    Q_OBJECT
public:
    // `presenter` shows the session's pop-ups; the window becomes its owner.
    explicit TMain_form(PopupPresenter& presenter);
    ~TMain_form() override;

    PopupPresenter& presenter;
    TprogramSettings settings;
    const std::string APP_PATH;
    const int APP_VERSION;
    BroadcastSession session;
    std::string pChannel_url;

    // Full-size panels and the pages of the main panel.
    QWidget *Login_Panel, *Main_Panel, *Update_Panel, *Top_Panel_Login, *Top_Panel_Main;
    QWidget *Broadcast_panel, *Video_Panel, *Audio_Panel, *Encoder_panel, *About_Panel;
    QWidget *Video_preview, *Audio_preview, *Volume_Control_panel;

    // Login panel.
    QLineEdit *Edit_Username, *Edit_password;
    ImageButton *Login_btn, *remember_off_button;
    ClickLabel* remember_me_lbl;
    TextButton *forgot_pass_lbl, *url_link_label;
    QLabel* Error_Label;
    QFrame* error_image;

    // Tab bar.
    ImageButton *Broadcast_off_btn, *Video_off_btn, *Audio_off_btn, *Encoder_off_btn, *About_on_btn;
    QLabel *user_caption_lbl, *user_lbl;
    ImageButton* Logout_btn;

    // Broadcast page.
    QComboBox* channel_combobox;
    QFrame* channel_list_panel;
    ImageButton *channel_img, *url_btn, *Launch_chat_btn;
    ClickLabel *Channel_lbl, *Channel_list_lbl;
    ImageButton *Video_Checkbox_off, *Audio_Checkbox_off, *save_file_off;
    ClickLabel *Send_Video_lbl, *Send_Audio_lbl, *Save_file_lbl;
    QLabel *Videodevice_lbl1, *Audiodevice_lbl1;
    QLineEdit* file_path_edit;
    ImageButton *browse_on_img, *browse_off_img;
    ImageButton *Stream_btn, *StopStream_Btn, *Stop_Reconnect_btn;
    QLabel *Status_caption_lbl, *Progress_status_lbl, *Timer_caption_lbl, *Progress_timer_lbl, *days_label,
        *Progress_days_lbl;
    QLabel *Bandwidth_caption_lbl, *Required_caption_lbl, *requiredcounter_lbl, *slash_lbl, *actualcounter_lbl,
        *kbps_lbl;

    // Video page.
    QComboBox *VideoSource1, *Videoformat_combobox, *Inputsize_combobox, *framerate_combobox, *Videobitrate_combobox,
        *Deinterlace_combobox;
    ImageButton *Device_settings_btn, *Resize_off;
    ClickLabel* Resize_lbl;
    QLabel* x_lbl;
    QLineEdit *resize_width, *resize_height;

    // Audio page.
    QComboBox *Audiosource1, *Samplerate_combobox, *Channels_combobox, *Audiobitrate_combobox;

    // Encoder page.
    QComboBox *Level_combobox, *DeblockStrength_combobox, *RefFrames_combobox, *KeyInterval_combobox,
        *BFrames_combobox, *BAdaptive_combobox, *PartitionsIntra_combobox, *PartitionsInter_combobox,
        *Subpixel_combobox;
    ImageButton *Parallel_off, *CABAC_off, *Deblock_off, *Framerate_half_off;

    // About page.
    QLabel *Application_name_lbl, *version_lbl, *date_label;
    ImageButton* Ok_button;

    // Preview, meters, volume.
    TMonitor* monitor1;
    QLabel* Preview_caption_lbl;
    TLevelMeter *Left_meter, *Right_meter;
    TVolumeSlider* Volume_bar_img;
    QLabel* Volume_lbl;
    ImageButton* Mute_btn;

    // Update panel: its text, progress bar and percentage.
    std::unique_ptr<UpdatePanel> updatePanel;

    QTimer Timer1, Connect_Timer, Check_Stream;

    // Tab bar handlers.
    void Broadcast_off_btnClick();
    void Video_off_btnClick();
    void Audio_off_btnClick();
    void Encoder_off_btnClick();
    void About_on_btnClick();
    void Ok_buttonClick();

    // Login panel and channel handlers.
    void Login_btnClick();
    void Logout_btnClick();
    void RememberMe(bool on);
    void forgot_pass_lblClick();
    void ToggleChannelList();
    void channel_comboboxChange(int position);

    // Rebuilds every control from the session's state.
    void RefreshControls();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildLoginPanel();
    void BuildMainPanel();
    void BuildTabBar();
    void BuildBroadcastPage();
    void BuildVideoPage();
    void BuildAudioPage();
    void BuildEncoderPage();
    void BuildAboutPage();
    void BuildPreviewArea();
    void BuildUpdatePanel();
    void ConnectHandlers();
    void ConnectEncoderHandlers();
    void FormCreate();
    void LoadSettingsIntoControls();
    void FillEncoderControls();

    // Runs a handler, or queues it while another one runs (a pop-up's event loop must not start
    // a second one); then refreshes the controls and delivers what was held back.
    void Handle(const std::function<void()>& handler);
    void OnWindowMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void RefreshCounters();
    void RefreshMeters();
    void RefreshVolume();
    void ShowChannel();
    void ShowTab(ImageButton* tab);
    void BringToFront(QWidget* page, bool withPreview);
    void ShowFullPanel(QWidget* panel);
    void OpenAddress(const std::string& address);

    HWND notifyHandle_ = 0;
    int handlerDepth_ = 0;
    bool busyCursorShown_ = false;
    bool countersShown_ = false;
    PreviewDetach* detach_ = nullptr;
    std::deque<std::function<void()>> pendingHandlers_;
};
