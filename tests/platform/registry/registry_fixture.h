// Gives each test a registry folder, HOME and XDG folders of its own.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

class RegistryFolder : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/veltro-registry-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root_ = pattern;
        folder_ = root_ / "registry";
        setenv("HOME", root_.c_str(), 1);
        setenv("XDG_CONFIG_HOME", (root_ / "config").c_str(), 1);
        setenv("VELTRO_REGISTRY_DIR", folder_.c_str(), 1);
    }
    void TearDown() override { std::filesystem::remove_all(root_); }

    std::filesystem::path HivePath() const { return folder_ / "HKCU.reg"; }

    std::string ReadHive() const
    {
        std::ifstream in(HivePath(), std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    void WriteHive(const std::string& text) const
    {
        std::filesystem::create_directories(folder_);
        std::ofstream(HivePath(), std::ios::binary) << text;
    }

    std::filesystem::path root_, folder_;
};
