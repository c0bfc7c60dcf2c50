// The program file's own version text (a.b.c.d).
//
// It lives in the executable's section .veltro_version (32 bytes, NUL-padded): the build writes
// the project version there, and scripts/package can stamp another one into the packaged copy
// (objcopy --update-section), as a version resource is edited in a finished program file.
#pragma once

const char* ProgramFileVersion();
