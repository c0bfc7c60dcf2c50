// Helpers shared by the auxiliary filters' tests and benchmarks.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A fresh HOME and registry folder for one test, removed again on destruction.
class ScratchHome {
public:
    ScratchHome();
    ~ScratchHome();
    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Writes one REG_DWORD under HKEY_CURRENT_USER\<key>.
void SetRegistryDword(const std::string& key, const std::string& name, uint32_t value);

// An I420 frame of a moving picture (gradients and a sliding box), different for every index.
std::vector<uint8_t> MovingPictureI420(int width, int height, int index);

// Runs a shell command and returns its standard output; `status` gets the exit status.
std::string RunCommand(const std::string& command, int* status = nullptr);
