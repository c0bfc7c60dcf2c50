// PulseAudio (or PipeWire's PulseAudio service) sources as Microphones: listing, the source
// volume as the input level, and capture through the simple API.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "capture_backend.h"

struct PulseSourceInfo {
    uint32_t index;
    std::string name;         // for the server
    std::string description;  // the friendly name
    bool monitor;             // the monitor of a sink
};

// Real sources first, then the monitors of sinks, each in the server's index order; empty
// when no server answers.
std::vector<PulseSourceInfo> ListPulseSources();

bool SetPulseSourceVolume(const std::string& source, double level);
bool GetPulseSourceVolume(const std::string& source, double* level);

std::unique_ptr<Microphone> OpenPulseMicrophone(const std::string& source);
