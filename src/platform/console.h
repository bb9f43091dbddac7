// The console the command-line tool talks to: whether a stream is a terminal, its arguments and
// its UTF-8 output.
#pragma once

#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

namespace fw::platform {

// Whether the stream (stdout or stderr) is an interactive terminal rather than a file or a pipe.
bool IsTerminal(std::FILE* stream);

// The program's arguments (without the program name) as UTF-8. Windows hands main() its arguments
// in the ANSI code page, which cannot hold every name and path; they are read again from the
// wide command line there.
std::vector<std::string> CommandLineUtf8(int argc, char** argv);

// The program's standard output and standard error, taking UTF-8 text. Where one is a Windows
// console the text reaches it as UTF-16 (WriteConsoleW), which shows every script whatever the
// console's code page and however the runtime would split the bytes; files and pipes get the
// UTF-8 bytes themselves, as std::cout and std::cerr give them (and those are what they are
// elsewhere). Standard error writes at once, standard output at each line's end and each flush.
std::ostream& Utf8Out();
std::ostream& Utf8Err();

}  // namespace fw::platform
