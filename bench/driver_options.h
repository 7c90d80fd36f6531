// Command-line options of the whole-process benchmark drivers: "MODE --name=value ...".
#pragma once

#include <string.h>

// The value of --name=value after the mode argument, or the fallback.
inline const char* Option(int argc, char** argv, const char* name, const char* fallback)
{
    size_t n = strlen(name);
    for (int i = 2; i < argc; i++)
        if (!strncmp(argv[i], "--", 2) && !strncmp(argv[i] + 2, name, n) && argv[i][2 + n] == '=') return argv[i] + 3 + n;
    return fallback;
}
