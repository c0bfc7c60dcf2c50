// The commands of veltro-cli; each returns the process exit code.
#pragma once

int RunDevices(int argc, char** argv);
int RunChannels(int argc, char** argv);
int RunBroadcast(int argc, char** argv);
