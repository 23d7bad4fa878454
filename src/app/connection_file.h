#pragma once
// The connection file: eight lines of Windows-1252 text, each ended by CR or
// CR LF, that tell a run where its files are.
#include <string>
#include <string_view>
#include <vector>

#include "interchange/run.h"

namespace kavelo {

inline constexpr std::size_t kConnectionFileLines = 8;

// The first `wanted` lines of `bytes`, without their line ends. A line ends at
// CR or CR LF; a lone LF is part of the line. A last line without a line end
// still counts; nothing after the last line end is no line.
std::vector<std::string> split_lines(std::string_view bytes, std::size_t wanted);

// Reads the eight lines of the connection file at `path` into `settings`
// (the connection file's own path is left alone), decoded to UTF-8 and each as read, in
// order: the lines read before a failure stay in `settings`. Fails with
// "input past end of file" when the file has fewer lines, and with the
// catalogue's file error when it cannot be opened or read.
void read_connection_file(const std::string& path, RunSettings& settings);

// Blanks (spaces only) removed at both ends.
std::string trim_blanks(std::string_view text);
// Trimmed, with "/" appended unless it already ends with one.
std::string as_folder(std::string_view text);

}  // namespace kavelo
