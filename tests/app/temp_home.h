// Gives each test a fresh HOME, XDG folders and registry folder, removed afterwards.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

class TempHomeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/veltro-app-XXXXXX";
        root_ = mkdtemp(pattern);
        for (const char* folder : {"home", "data", "config", "registry", "runtime"})
            std::filesystem::create_directories(root_ + "/" + folder);
        setenv("HOME", (root_ + "/home").c_str(), 1);
        setenv("XDG_DATA_HOME", (root_ + "/data").c_str(), 1);
        setenv("XDG_CONFIG_HOME", (root_ + "/config").c_str(), 1);
        setenv("XDG_RUNTIME_DIR", (root_ + "/runtime").c_str(), 1);
        setenv("VELTRO_REGISTRY_DIR", (root_ + "/registry").c_str(), 1);
        unsetenv("VELTRO_CONF");
    }
    void TearDown() override { std::filesystem::remove_all(root_); }

    std::string Root() const { return root_; }
    std::string SettingsFolder() const { return root_ + "/data/Veltro/"; }
    std::string Videos() const { return root_ + "/home/Videos"; }

    static std::string ReadFile(const std::string& path)
    {
        std::ifstream file(path, std::ios::binary);
        std::stringstream text;
        text << file.rdbuf();
        return text.str();
    }
    static void WriteFile(const std::string& path, const std::string& text)
    {
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        std::ofstream(path, std::ios::binary) << text;
    }

private:
    std::string root_;
};

// Records the pop-ups instead of showing them; `Presenter` is the presenter class a caller takes.
#include "settings/popup_presenter.h"
#include <vector>
template <class Presenter>
class RecordingPopups : public Presenter {
public:
    std::vector<std::string> messages;
    bool answer = false;
    void ShowMessage(const std::string& first, const std::string& second) override
    {
        messages.push_back(second.empty() ? first : first + "|" + second);
    }
    bool AskRewrite(const std::string& question, const std::string& fileName) override
    {
        messages.push_back(fileName + "|" + question);
        return answer;
    }
    void ShowWaitNotice(const std::string& text, int milliseconds) override { messages.push_back(text); }
};
using RecordingPresenter = RecordingPopups<IPopupPresenter>;
