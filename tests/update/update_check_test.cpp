// The update check and the installer's download against a scripted web site.
#include <sys/stat.h>

#include <filesystem>

#include "peers.h"
#include "scripted_site.h"
#include "temp_home.h"
#include "update/software_update.h"

namespace {

class FakeView : public IUpdateView {
public:
    bool answer = true;
    int questions = 0;
    bool panelShown = false;
    std::vector<std::pair<int, std::string>> progress;
    bool AskUpdate(const std::string& question) override
    {
        EXPECT_EQ(question, "A new version is available. Do you want to update?");
        ++questions;
        return answer;
    }
    void ShowUpdatePanel() override { panelShown = true; }
    bool ShowProgress(int barWidth, const std::string& percentText) override
    {
        progress.push_back({barWidth, percentText});
        return true;
    }
};

class UpdateCheckTest : public TempHomeTest {
protected:
    void SetUp() override
    {
        TempHomeTest::SetUp();
        setenv("TMPDIR", (Root() + "/tmp").c_str(), 1);
        std::filesystem::create_directories(Root() + "/tmp");
        settings = std::make_unique<TprogramSettings>(&presenter);
    }
    void TearDown() override
    {
        unsetenv("TMPDIR");
        TempHomeTest::TearDown();
    }
    TSoftwareUpdate Update(const std::string& site, int version = 5501)
    {
        return TSoftwareUpdate(*settings, view, site, version, "/opt/Veltro Program/");
    }
    std::string Log() { return ReadFile(SettingsFolder() + "log.txt"); }
    std::vector<std::filesystem::path> TempEntries()
    {
        std::vector<std::filesystem::path> entries;
        for (const auto& entry : std::filesystem::directory_iterator(Root() + "/tmp")) entries.push_back(entry.path());
        return entries;
    }

    RecordingPresenter presenter;
    FakeView view;
    std::unique_ptr<TprogramSettings> settings;
    ScriptedSite site;
};

}  // namespace

TEST(VersionFileTest, FirstLineGivesNumberAndName)
{
    VersionLine line = ReadVersionFile("5502_setup55\r\nsecond line\r\n");
    EXPECT_EQ(line.kind, VersionLine::Usable);
    EXPECT_EQ(line.number, 5502);
    EXPECT_EQ(line.name, "setup55");
    EXPECT_EQ(ReadVersionFile("5502_veltro_5.5.0.2.run").name, "veltro_5.5.0.2.run");
    EXPECT_EQ(ReadVersionFile("").kind, VersionLine::Empty);
    // No "_", no number before it, or a name that would leave the download folder: cannot check.
    for (const char* text : {"5502", "\n5502_a", "v5502_setup", "_setup", "5502_", "5502_../x", "5502_a/b", "5502_.."})
        EXPECT_EQ(ReadVersionFile(text).kind, VersionLine::Unreadable) << text;
}

TEST(VersionFileTest, ProgressHalfwayIsFiftyPercentAnd215Pixels)
{
    EXPECT_EQ(ProgressBarWidth(1000000, 2000000), 215);
    EXPECT_EQ(ProgressPercentText(1000000, 2000000), "50 %");
    EXPECT_EQ(ProgressBarWidth(2000000, 2000000), 430);
    EXPECT_EQ(ProgressBarWidth(5, 0), 0);  // length not known yet
}

TEST_F(UpdateCheckTest, UnreachableSiteAndEmptyFileShowThePopUp)
{
    std::string host;
    {
        ScriptedSite gone;
        host = gone.Host();
    }
    EXPECT_FALSE(Update(host).CheckAfterLogin());
    EXPECT_NE(Log().find("Unable to connect to server in order to check Updates\r\n"), std::string::npos);

    site.Set("/download/last_version.txt", {200, ""});
    EXPECT_FALSE(Update(site.Host()).CheckAfterLogin());
    EXPECT_NE(Log().find("Check Update - exit, no returned value"), std::string::npos);

    site.Set("/download/last_version.txt", {404, "5600_x"});
    EXPECT_FALSE(Update(site.Host()).CheckAfterLogin());
    EXPECT_EQ(presenter.messages, std::vector<std::string>(3, "Unable to connect to server in order to check Updates."));
    EXPECT_EQ(view.questions, 0);
}

TEST_F(UpdateCheckTest, SameVersionAsksNothingAndCancelDownloadsNothing)
{
    site.Set("/download/last_version.txt", {200, "5501_setup55\n"});
    EXPECT_FALSE(Update(site.Host(), 5501).CheckAfterLogin());
    EXPECT_EQ(view.questions, 0);
    EXPECT_NE(Log().find("Version Check. No updates."), std::string::npos);

    view.answer = false;
    EXPECT_FALSE(Update(site.Host(), 5500).CheckAfterLogin());
    EXPECT_EQ(view.questions, 1);
    EXPECT_FALSE(view.panelShown);
    EXPECT_EQ(site.Requests().size(), 2u);
    EXPECT_TRUE(presenter.messages.empty());
}

TEST_F(UpdateCheckTest, InstallerSavedPrivatelyAndStartedWithTheSwitches)
{
    const std::string marker = Root() + "/started.txt";
    const std::string installer = "#!/bin/sh\nprintf '%s\\n' \"$0\" \"$@\" > '" + marker + "'\n" + std::string(300000, '#') + "\n";
    site.Set("/download/last_version.txt", {200, "5600_veltro-5.6.0.0\n"});
    site.Set("/download/veltro-5.6.0.0", {200, installer});
    TSoftwareUpdate update = Update(site.Host());
    ASSERT_TRUE(update.CheckAfterLogin());
    EXPECT_TRUE(view.panelShown);
    ASSERT_FALSE(view.progress.empty());
    EXPECT_EQ(view.progress.back(), std::make_pair(430, std::string("100 %")));

    const std::filesystem::path path = update.installerPath;
    EXPECT_EQ(path.filename(), "veltro-5.6.0.0_setup.run");
    EXPECT_EQ(path.parent_path().parent_path(), Root() + "/tmp");
    struct stat folder {}, file {};
    ASSERT_EQ(stat(path.parent_path().c_str(), &folder), 0);
    ASSERT_EQ(stat(path.c_str(), &file), 0);
    EXPECT_EQ(folder.st_mode & 0777, 0700u);
    EXPECT_EQ(file.st_mode & 0777, 0700u);
    ASSERT_TRUE(WaitFor([&] { return ReadFile(marker).find("/dir=") != std::string::npos; }, 20));
    EXPECT_EQ(ReadFile(marker), path.string() + "\n/SP-\n/silent\n/noicons\n/dir=/opt/Veltro Program/\n");
}

TEST_F(UpdateCheckTest, DownloadCutHalfwayOrInstallerThatCannotStartLeavesNothing)
{
    site.Set("/download/last_version.txt", {200, "5600_big"});
    site.Set("/download/big", {200, std::string(2000000, 'x'), 1000000});
    EXPECT_FALSE(Update(site.Host()).CheckAfterLogin());
    EXPECT_NE(Log().find("The new version cannot not be downloaded at this moment."), std::string::npos);
    EXPECT_TRUE(view.panelShown);
    EXPECT_NE(view.progress.back().first, 430);
    EXPECT_TRUE(TempEntries().empty());

    site.Set("/download/big", {200, "not a program"});
    EXPECT_FALSE(Update(site.Host()).CheckAfterLogin());
    EXPECT_NE(Log().find("Cannot run installer. Check permissions."), std::string::npos);
    EXPECT_TRUE(TempEntries().empty());
    EXPECT_TRUE(presenter.messages.empty());
}
