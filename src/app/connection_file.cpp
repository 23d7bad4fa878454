#include "app/connection_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>

#include "platform/codepage.h"
#include "platform/failure.h"

namespace kavelo {
namespace {

// The file error a failed open or read stands for.
Failure file_failure(int error, const std::string& path) {
  switch (error) {
    case ENOENT:
      // Wildcards got the name past the existence test, but no file has it.
      return failure(path.find_first_of("*?") != std::string::npos ? ErrorCode::BadFileNameOrNumber
                                                                    : ErrorCode::FileNotFound);
    case ENAMETOOLONG: return failure(ErrorCode::BadFileNameOrNumber);
    case ENOTDIR: return failure(ErrorCode::PathNotFound);
    default: return failure(ErrorCode::PathFileAccess);
  }
}

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() { ::close(fd_); }
  int get() const { return fd_; }

 private:
  int fd_;
};

// The start of the file, up to its eighth line end or its end, whichever
// comes first: a long file is not read further than the lines it is asked for.
std::string read_head(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw file_failure(errno, path);
  FileDescriptor file(fd);

  std::string bytes;
  std::array<char, 4096> chunk{};
  while (static_cast<std::size_t>(std::count(bytes.begin(), bytes.end(), '\r')) < kConnectionFileLines) {
    const ssize_t n = ::read(file.get(), chunk.data(), chunk.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      throw file_failure(errno, path);
    }
    if (n == 0) break;
    bytes.append(chunk.data(), static_cast<std::size_t>(n));
  }
  return bytes;
}

}  // namespace

std::vector<std::string> split_lines(std::string_view bytes, std::size_t wanted) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (lines.size() < wanted && start < bytes.size()) {
    const std::size_t cr = bytes.find('\r', start);
    if (cr == std::string_view::npos) {
      lines.emplace_back(bytes.substr(start));
      break;
    }
    lines.emplace_back(bytes.substr(start, cr - start));
    start = cr + 1;
    if (start < bytes.size() && bytes[start] == '\n') ++start;
  }
  return lines;
}

void read_connection_file(const std::string& path, RunSettings& settings) {
  static constexpr std::array<std::string RunSettings::*, kConnectionFileLines> kTargets = {
      &RunSettings::interchange_dir, &RunSettings::data_dir, &RunSettings::company_code,
      &RunSettings::database_suffix, &RunSettings::separator, &RunSettings::caption,
      &RunSettings::label1,          &RunSettings::label2};

  const std::vector<std::string> lines = split_lines(read_head(path), kConnectionFileLines);
  for (std::size_t i = 0; i < lines.size(); ++i) settings.*kTargets[i] = cp1252_to_utf8(lines[i]);
  if (lines.size() < kConnectionFileLines) throw failure(ErrorCode::InputPastEndOfFile);
}

std::string trim_blanks(std::string_view text) {
  const std::size_t first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  const std::size_t last = text.find_last_not_of(' ');
  return std::string(text.substr(first, last - first + 1));
}

std::string as_folder(std::string_view text) {
  std::string folder = trim_blanks(text);
  if (!folder.ends_with('/')) folder += '/';
  return folder;
}

}  // namespace kavelo
