// What the line reader refuses: anything but a regular file, at its open and
// without waiting for it, and a line longer than its bound.
#include "interchange/line_reader.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

#include "platform/failure.h"
#include "test_support.h"

namespace kavelo {
namespace {

int number_of_open_failure(const std::string& path) {
  try {
    LineReader reader(path);
  } catch (const Failure& f) {
    return f.number();
  }
  return 0;
}

TEST(LineReaderOpen, RefusesWhatIsNoRegularFileWithoutWaiting) {
  test::TempDir dir;
  const std::string fifo = dir / "fifo", socket_path = dir / "socket", link = dir / "link";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const int listening = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, socket_path.c_str(), sizeof address.sun_path - 1);
  ASSERT_EQ(::bind(listening, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::symlink("/dev/zero", link.c_str()), 0);
  test::make_dir(dir / "folder");
  // A FIFO nobody writes to would keep a plain open waiting for good.
  for (const std::string& path : {fifo, socket_path, link, std::string("/dev/null"), dir / "folder"})
    EXPECT_EQ(number_of_open_failure(path), static_cast<int>(ErrorCode::PathFileAccess)) << path;
  EXPECT_EQ(number_of_open_failure(dir / "none"), static_cast<int>(ErrorCode::FileNotFound));
  ::close(listening);
}

TEST(LineReaderBound, ALineUpToTheBoundIsReadAndALongerOneFails) {
  test::TempDir dir;
  const std::string path = dir / "MAE.TXT";
  test::write_bytes(path, std::string(kLongestLine, 'x') + "\r\n" + std::string(kLongestLine + 1, 'y') + "\r\nz");
  LineReader reader(path);
  EXPECT_EQ(reader.read_line().size(), kLongestLine);
  try {
    reader.read_line();
    ADD_FAILURE() << "a line longer than the bound was read";
  } catch (const Failure& f) {
    EXPECT_EQ(f.number(), 14);
    EXPECT_EQ(f.description(), "Espacio de cadena insuficiente: la línea pasa de 16 MiB.");
  }
}

}  // namespace
}  // namespace kavelo
