// The few services of the operating system the batch needs, kept thin.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace tallow::app {

// Tells the user about a failure that ends the run: the caption and the text
// on one line of standard error ("input file 오류: tallow.in파일을 찾을 수
// 없읍니다"), in UTF-8; a non-empty detail follows on the next line.
void ShowMessage(std::FILE* err, const char* caption, const char* text,
                 const std::string& detail = "");

// True when the directory holds an entry of exactly this name, whatever it
// is (a file, a directory, a link that leads nowhere). "" is the current
// directory.
bool DirectoryEntryExists(const std::string& directory, const std::string& name);

// True when the stream is connected to a terminal.
bool IsTerminal(std::FILE* stream);

// True when the path names the regular file the descriptor reads.
bool IsSameRegularFile(int fd, const std::string& path);

}  // namespace tallow::app
