// The console the command-line tool talks to: whether a stream is a terminal, and UTF-8 output.
#pragma once

#include <cstdio>

namespace fw::platform {

// Whether the stream (stdout or stderr) is an interactive terminal rather than a file or a pipe.
bool IsTerminal(std::FILE* stream);

// Makes the console show the program's UTF-8 texts (a no-op where terminals are UTF-8 already).
void UseUtf8Console();

}  // namespace fw::platform
