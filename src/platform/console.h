// The console the command-line tool talks to: whether a stream is a terminal, and UTF-8 output.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace fw::platform {

// Whether the stream (stdout or stderr) is an interactive terminal rather than a file or a pipe.
bool IsTerminal(std::FILE* stream);

// The program's arguments (without the program name) as UTF-8. Windows hands main() its arguments
// in the ANSI code page, which cannot hold every name and path; they are read again from the
// wide command line there.
std::vector<std::string> CommandLineUtf8(int argc, char** argv);

// Makes the console show the program's UTF-8 texts (a no-op where terminals are UTF-8 already).
void UseUtf8Console();

}  // namespace fw::platform
