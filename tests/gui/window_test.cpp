// The window on Qt's offscreen platform: what a user would notice broken.
#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QTimer>

#include "app_info.h"
#include "click_label.h"
#include "image_button.h"
#include "main_form.h"
#include "peers.h"
#include "pipeline/encoder_settings.h"
#include "session/account_session.h"
#include "popup_form.h"
#include "start_up.h"
#include "temp_home.h"
#include "widgets/volume_slider.h"

// fontconfig keeps a cache of its own for the life of the process.
extern "C" __attribute__((used)) const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

namespace {

// Made once and never destroyed: Qt's own globals may go first at exit.
QApplication& Application()
{
    static int argc = 1;
    static char name[] = "window_test";
    static char* argv[] = {name, nullptr};
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QApplication* application = new QApplication(argc, argv);
    return *application;
}

using RecordedPopups = RecordingPopups<PopupPresenter>;

class WindowTest : public TempHomeTest {
protected:
    void SetUp() override
    {
        TempHomeTest::SetUp();
        Application();
    }
    std::unique_ptr<TMain_form> Window()
    {
        auto window = std::make_unique<TMain_form>(popups);
        window->show();
        return window;
    }
    RecordedPopups popups;
};

}  // namespace

TEST_F(WindowTest, PopupLayoutForOneTextTwoTextsAndTheQuestion)
{
    Application();
    TPopup_form one(nullptr);
    one.LayOutMessage("Cannot connect to the remote Server", "");
    EXPECT_EQ(one.height(), 142);
    EXPECT_EQ(one.width(), one.error_label1->width() + 64);
    EXPECT_EQ(one.Ok_btn->y(), 80);
    EXPECT_EQ(one.Ok_btn->x(), (one.width() - one.Ok_btn->width()) / 2);
    EXPECT_TRUE(one.error_label2->isHidden());

    TPopup_form two(nullptr);
    two.LayOutMessage("short", "A second, much longer line of the message");
    EXPECT_EQ(two.height(), 207);
    EXPECT_EQ(two.width(), two.error_label2->width() + 64);
    EXPECT_EQ(two.error_label2->y(), 62);
    EXPECT_EQ(two.Ok_btn->y(), 145);
    EXPECT_EQ(two.error_label1->x(), (two.width() - two.error_label1->width()) / 2);

    PopupPresenter presenter;
    // Closing the question window any way but Yes answers No.
    QTimer::singleShot(0, [] {
        auto* question = qobject_cast<TPopup_form*>(QApplication::activeModalWidget());
        ASSERT_NE(question, nullptr);
        EXPECT_EQ(question->height(), 160);
        EXPECT_EQ(question->width(), question->error_label1->width() + 100);
        EXPECT_EQ(question->yes_btn->x(), question->width() / 2 - 57);
        EXPECT_EQ(question->no_btn->x(), question->yes_btn->x() + 62);
        EXPECT_TRUE(question->Ok_btn->isHidden());
        question->close();
    });
    EXPECT_FALSE(presenter.AskRewrite("File exists, overwrite?", "/home/me/Videos/show.mp4"));
}

TEST_F(WindowTest, FirstStartWritesDefaultsAfterTheNoticeAndASecondStartIsRefused)
{
    RecordedPopups first;
    auto running = std::make_unique<SingleInstanceLock>();
    ASSERT_TRUE(StartChecks(first, *running));
    EXPECT_EQ(first.messages, std::vector<std::string>{"Please wait. Updating settings for current user."});
    TVideo_Encoder stored;
    ASSERT_TRUE(stored.Registry_Read());
    EXPECT_EQ(stored.Level, 12);

    RecordedPopups second;
    SingleInstanceLock again;
    EXPECT_FALSE(StartChecks(second, again));
    EXPECT_EQ(second.messages, std::vector<std::string>{"Veltro application is already in use"});

    running.reset();
    RecordedPopups later;
    SingleInstanceLock next;
    ASSERT_TRUE(StartChecks(later, next));
    EXPECT_TRUE(later.messages.empty());
    EXPECT_EQ(ApplicationVersionNumber("5.5.0.3"), 5503);
}

TEST_F(WindowTest, TabsLockWhileStreamingAndFollowTheSources)
{
    auto window = Window();
    window->settings.VideoSource = 1;
    window->settings.AudioSource = 0;
    window->RefreshControls();
    EXPECT_TRUE(window->Video_off_btn->isEnabled());
    EXPECT_FALSE(window->Audio_off_btn->isEnabled());
    EXPECT_TRUE(window->Encoder_off_btn->isEnabled());

    window->session.state.isStreaming = true;
    window->RefreshControls();
    EXPECT_FALSE(window->Video_off_btn->isEnabled());
    EXPECT_FALSE(window->Encoder_off_btn->isEnabled());
    window->Broadcast_off_btn->click();
    EXPECT_TRUE(window->Broadcast_off_btn->isHighlighted());
    EXPECT_FALSE(window->Video_off_btn->isHighlighted());
    EXPECT_FALSE(window->Broadcast_panel->isHidden());

    window->session.state.isStreaming = false;
    window->About_on_btn->click();
    EXPECT_FALSE(window->About_Panel->isHidden());
    EXPECT_TRUE(window->Video_preview->isHidden());
    EXPECT_EQ(window->version_lbl->x(), (784 - window->version_lbl->width()) / 2);
    window->Ok_button->click();
    EXPECT_FALSE(window->Broadcast_panel->isHidden());
    EXPECT_FALSE(window->Video_preview->isHidden());
}

TEST_F(WindowTest, LoginByEnterInThePasswordFieldRememberMeAndLogout)
{
    ChildProcess service({"python3", std::string(VELTRO_SOURCE_DIR) + "/tools/demo/account_service.py", "--listen",
                          "127.0.0.1:0", "--user", "demo", "--password", "demo", "--channel-names",
                          std::string(40, 'a'), std::string(41, 'b'), "--streams", "s1", "s2"},
                         Root() + "/account.out", Root() + "/account.err");
    ASSERT_TRUE(WaitFor([&] { return ReadText(Root() + "/account.out").find('\n') != std::string::npos; }, 10));
    std::string address = ReadText(Root() + "/account.out").substr(6);
    address.pop_back();
    WriteFile(Root() + "/veltro.conf", "[account]\nhosts = " + address + "\n[web]\nsite = " + address + "\n");
    setenv("VELTRO_CONF", (Root() + "/veltro.conf").c_str(), 1);
    setenv("VELTRO_VIRTUAL_DEVICES", "0", 1);

    auto window = Window();
    window->settings.VideoSource = window->settings.AudioSource = 0;
    window->remember_off_button->click();
    window->Edit_Username->setText("demo");
    window->Edit_password->setText("wrong");
    window->Login_btn->click();
    window->Login_btn->click();
    EXPECT_EQ(window->Error_Label->text(), "Invalid username or password");
    EXPECT_EQ(window->Error_Label->x(), (784 - window->Error_Label->width()) / 2);
    EXPECT_EQ(window->session.authentication, nullptr);
    window->Edit_password->setText("demo");
    QTest::keyClick(window->Edit_Username, Qt::Key_Return);
    EXPECT_TRUE(window->Login_Panel->isVisible());
    QTest::keyClick(window->Edit_password, Qt::Key_Return);
    ASSERT_TRUE(window->Main_Panel->isVisible());
    EXPECT_FALSE(window->Login_Panel->isVisible());
    EXPECT_EQ(window->user_lbl->x() + window->user_lbl->width(), 704);
    EXPECT_NE(ReadFile(SettingsFolder() + "settings.xml").find("<username>demo</username>"), std::string::npos);

    // The channel label keeps 40 characters.
    EXPECT_EQ(window->Channel_list_lbl->text().toStdString(), std::string(40, 'a'));
    window->channel_combobox->activated(1);
    EXPECT_EQ(window->Channel_list_lbl->text().toStdString(), std::string(40, 'b') + "...");
    EXPECT_EQ(window->settings.Channel_index, 1);

    // Remember-me off forgets the stored credentials at once.
    window->remember_me_lbl->clicked();
    EXPECT_FALSE(window->remember_off_button->isChecked());
    EXPECT_EQ(ReadFile(SettingsFolder() + "settings.xml").find("demo"), std::string::npos);

    window->session.state.isStreaming = true;
    window->Logout_btn->click();
    EXPECT_EQ(popups.messages.back(), "You cannot logout while streaming. Please Stop the stream first.");
    EXPECT_TRUE(window->Main_Panel->isVisible());
    window->session.state.isStreaming = false;
    window->Logout_btn->click();
    EXPECT_TRUE(window->Login_Panel->isVisible());
    EXPECT_EQ(window->url_link_label->parentWidget(), window->Top_Panel_Login);
    EXPECT_EQ(RecoveryUrl("me@host.example", "www.veltro.tv"), "http://host.example/lostpassword");
    EXPECT_EQ(RecoveryUrl("me", "www.veltro.tv"), "http://www.veltro.tv/lostpassword");
}

TEST_F(WindowTest, EncoderListsWriteTheRegistryAtOnce)
{
    RecordedPopups defaults;
    EnsureEncoderDefaults(defaults);
    auto window = Window();
    EXPECT_EQ(window->Level_combobox->currentText(), "Level 4.1");
    EXPECT_EQ(window->KeyInterval_combobox->currentText(), "3  seconds");
    EXPECT_EQ(window->Videobitrate_combobox->currentText(), "1024");
    EXPECT_EQ(window->Audiobitrate_combobox->currentText(), "128");

    window->Level_combobox->setCurrentIndex(8);
    window->Level_combobox->activated(8);
    window->DeblockStrength_combobox->setCurrentIndex(0);
    window->DeblockStrength_combobox->activated(0);
    window->framerate_combobox->activated(window->framerate_combobox->findText("29.97"));
    window->KeyInterval_combobox->activated(0);
    window->Videobitrate_combobox->setCurrentText("1500");
    window->Videobitrate_combobox->activated(window->Videobitrate_combobox->currentIndex());
    window->CABAC_off->toggle();

    TVideo_Encoder stored;
    ASSERT_TRUE(stored.Registry_Read());
    EXPECT_EQ(stored.Level, 8);
    EXPECT_EQ(stored.Deblock_Strength, -6);
    EXPECT_EQ(stored.KeyIntMin, 16);
    EXPECT_EQ(stored.KeyIntMax, 29);
    EXPECT_EQ(stored.Bitrate, 1500);
    EXPECT_EQ(stored.CABAC, 0);
}

TEST_F(WindowTest, ResizeFieldsTakeDigitsAndKeepTheAspectRatio)
{
    auto window = Window();
    window->settings.Video_width = 640;
    window->settings.Video_height = 480;
    window->session.state.videoControlsEnabled = true;
    window->Resize_off->toggle();
    ASSERT_TRUE(window->resize_width->isEnabled());
    window->resize_width->selectAll();
    QTest::keyClicks(window->resize_width, "8x0a0");
    EXPECT_EQ(window->resize_width->text(), "800");
    EXPECT_EQ(window->resize_height->text(), "600");
    window->resize_width->selectAll();
    QTest::keyClick(window->resize_width, Qt::Key_Backspace);
    EXPECT_EQ(window->resize_width->text(), "0");
    QTest::keyClick(window->resize_width, Qt::Key_End);
    QTest::keyClicks(window->resize_width, "5");
    EXPECT_EQ(window->resize_width->text(), "5");
    window->Resize_off->toggle();
    EXPECT_FALSE(window->resize_width->isEnabled());
}

TEST_F(WindowTest, BroadcastStateShowsStatusClockDaysAndCountersLaidOut)
{
    auto window = Window();
    SessionState& state = window->session.state;
    state.isStreaming = true;
    state.countersVisible = true;
    state.front = FrontButton::StopReconnect;
    state.status = "Disconnected.  Trying to reconnect...";
    state.statusRed = true;
    state.clock = "01:02:03";
    state.days = 1;
    state.daysVisible = true;
    state.actualCounter = "500";
    state.requiredCounter = "1152";
    window->RefreshControls();
    EXPECT_FALSE(window->Stop_Reconnect_btn->isHidden());
    EXPECT_TRUE(window->Stream_btn->isHidden());
    EXPECT_EQ(window->Progress_status_lbl->text(), "Disconnected.  Trying to reconnect...");
    EXPECT_EQ(window->Progress_status_lbl->palette().color(QPalette::WindowText), QColor(255, 0, 0));
    EXPECT_EQ(window->Progress_timer_lbl->text(), "01:02:03");
    EXPECT_FALSE(window->Progress_days_lbl->isHidden());
    EXPECT_EQ(window->Progress_days_lbl->text(), "1");
    // Right to left from "(kbps)".
    QLabel* actual = window->actualcounter_lbl;
    EXPECT_EQ(actual->x() + actual->width(), window->kbps_lbl->x() - 4);
    EXPECT_EQ(window->slash_lbl->x(), actual->x() - 9);
    EXPECT_EQ(window->requiredcounter_lbl->x() + window->requiredcounter_lbl->width(), window->slash_lbl->x() - 4);

    state = SessionState{};
    window->RefreshControls();
    EXPECT_FALSE(window->Stream_btn->isHidden());
    EXPECT_EQ(actual->text(), "---");
    EXPECT_EQ(actual->x(), 308);
    EXPECT_EQ(window->slash_lbl->x(), 301);
    EXPECT_TRUE(window->Progress_days_lbl->isHidden());
}

TEST_F(WindowTest, VolumeSliderPercentageAndMuteAtTheEdges)
{
    auto window = Window();
    EXPECT_EQ(window->Volume_lbl->text(), "50%");
    window->Volume_bar_img->setValue(100);
    EXPECT_EQ(window->Volume_lbl->text(), "100%");
    EXPECT_FALSE(window->Mute_btn->isChecked());
    window->Volume_bar_img->setValue(0);
    EXPECT_EQ(window->Volume_lbl->text(), "0%");
    EXPECT_TRUE(window->Mute_btn->isChecked());
    // The mute button leaves the slider where it is.
    window->Mute_btn->toggle();
    EXPECT_FALSE(window->session.state.muted);
    EXPECT_EQ(window->Volume_lbl->text(), "0%");
    window->Volume_bar_img->setValue(50);
    EXPECT_EQ(window->Volume_lbl->text(), "50%");
    EXPECT_FALSE(window->Mute_btn->isChecked());
}

TEST_F(WindowTest, BrowseAsksBeforeAnExistingFileAndNumbersTheName)
{
    std::filesystem::create_directories(Videos());
    auto window = Window();
    window->save_file_off->toggle();
    ASSERT_TRUE(window->browse_on_img->isVisibleTo(window->Broadcast_panel));
    ASSERT_TRUE(window->file_path_edit->isEnabled());
    const std::string existing = Root() + "/show.mp4";
    WriteFile(existing, "old");
    // The save dialog starts in File_path; the user picks the existing file.
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->directory().absolutePath().toStdString() + "/", window->settings.File_path);
        dialog->selectFile(QString::fromStdString(existing));
        QMetaObject::invokeMethod(dialog, "accept");
    });
    window->browse_on_img->click();
    ASSERT_FALSE(popups.messages.empty());
    EXPECT_EQ(popups.messages.back(), existing + "|File exists, overwrite?");
    EXPECT_EQ(window->file_path_edit->text().toStdString(), Root() + "/show(2).mp4");
    EXPECT_EQ(ReadFile(existing), "old");
}
