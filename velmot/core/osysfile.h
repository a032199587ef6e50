// File names and files.
#pragma once

#include "velmot/core/strings.h"
#include "velmot/core/vtypes.h"

#include <cstdio>

// Sharing modes of FILENAME::fsopen.
constexpr int FSOPEN_SHARE_FROM_MODE = -1;
constexpr int FSOPEN_SHARE_NONE = 0;
constexpr int FSOPEN_SHARE_EXCLUSIVE = 16;
constexpr int FSOPEN_SHARE_SHARED = 32;

class VELMOT_EXPORT FILENAME {
public:
    // Opens a stream with an advisory whole-file lock that lasts until the
    // stream is closed: shared for reading, exclusive for writing (share -1
    // derives it from the mode). Null when the file cannot be opened or the
    // lock is held elsewhere.
    static FILE* fsopen(char const* path, char const* mode, int share = FSOPEN_SHARE_FROM_MODE);
};
