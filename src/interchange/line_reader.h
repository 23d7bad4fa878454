#pragma once
// Reads an interchange file line by line: Windows-1252 bytes in, UTF-8 texts
// out. A line ends at CR or CR LF; a lone LF is part of the line. The file is
// read in blocks, so memory stays flat whatever its size; a line may be of
// any length up to kLongestLine.
#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>

namespace kavelo {

// Far above any record (the longest layout's fields at their widest take a
// few kilobytes): a longer line is no record, and reading on would only
// exhaust memory (a link to /dev/zero, a file of binary junk).
inline constexpr std::size_t kLongestLine = 16 << 20;

class LineReader {
 public:
  // A file that cannot be opened fails (not found, or no access), and so does
  // anything that is not a regular file (a folder, a FIFO, a device, a
  // socket), without waiting for it.
  explicit LineReader(const std::string& path);
  ~LineReader();
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;

  // True when no byte is left: a line end after the last line leaves no
  // empty line behind it.
  bool at_end();
  // The next line without its end; past the end it fails ("input past end of
  // file"), and so does a line longer than kLongestLine (error 14).
  std::string read_line();

 private:
  bool fill();

  std::FILE* file_ = nullptr;
  std::unique_ptr<char[]> buffer_;
  std::size_t capacity_ = 0;
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
  std::string bytes_;
};

}  // namespace kavelo
