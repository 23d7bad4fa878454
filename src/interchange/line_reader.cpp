#include "interchange/line_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <fmt/format.h>

#include "platform/codepage.h"
#include "platform/failure.h"

namespace kavelo {
namespace {

constexpr std::size_t kBlock = 1 << 20;

Failure open_failure(int error, const std::string& path) {
  if (error == ENOENT || error == ENOTDIR) return failure(ErrorCode::FileNotFound, path);
  return failure(ErrorCode::PathFileAccess, path);
}

}  // namespace

LineReader::LineReader(const std::string& path) {
  // Opened without waiting (a FIFO would wait for a writer) and looked at
  // before anything is read.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) throw open_failure(errno, path);
  struct stat info {};
  const int flags = ::fcntl(fd, F_GETFL);
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || flags < 0 ||
      ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0 || !(file_ = ::fdopen(fd, "rb"))) {
    ::close(fd);
    throw failure(ErrorCode::PathFileAccess, path);
  }
  // A small file gets a buffer of its own size (an empty one, one byte to
  // learn that it is at its end), not the whole block to fault in.
  const auto size = static_cast<std::size_t>(info.st_size);
  capacity_ = size < kBlock ? size + 1 : kBlock;
  buffer_ = std::make_unique_for_overwrite<char[]>(capacity_);
}

LineReader::~LineReader() {
  if (file_) std::fclose(file_);
}

bool LineReader::fill() {
  if (begin_ < end_) return true;
  begin_ = 0;
  end_ = std::fread(buffer_.get(), 1, capacity_, file_);
  if (end_ == 0 && std::ferror(file_)) throw failure(ErrorCode::PathFileAccess);
  return end_ > 0;
}

bool LineReader::at_end() { return !fill(); }

std::string LineReader::read_line() {
  if (!fill()) throw failure(ErrorCode::InputPastEndOfFile);
  bytes_.clear();
  auto append = [&](const char* start, std::size_t count) {
    if (bytes_.size() + count > kLongestLine)
      throw failure(ErrorCode::OutOfStringSpace, fmt::format("{} MiB", kLongestLine >> 20));
    bytes_.append(start, count);
  };
  while (true) {
    const char* start = buffer_.get() + begin_;
    const char* cr = static_cast<const char*>(std::memchr(start, '\r', end_ - begin_));
    if (cr) {
      append(start, static_cast<std::size_t>(cr - start));
      begin_ += static_cast<std::size_t>(cr - start) + 1;
      // The LF of a CR LF may be the first byte of the next block.
      if (fill() && buffer_[begin_] == '\n') ++begin_;
      break;
    }
    append(start, end_ - begin_);
    begin_ = end_;
    if (!fill()) break;
  }
  return cp1252_to_utf8(bytes_);
}

}  // namespace kavelo
