#include "version_stamp.h"

// External and writable, so the compiler reads the section at run time instead of folding in the
// build's text: a stamped file must report the stamped version.
__attribute__((section(".veltro_version"), used)) char g_veltroVersionStamp[32] = VELTRO_FILE_VERSION;

const char* ProgramFileVersion()
{
    const char* text = g_veltroVersionStamp;
    __asm__("" : "+r"(text));
    return text;
}
