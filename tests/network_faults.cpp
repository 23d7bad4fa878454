#include "network_faults.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <stdexcept>
#include <system_error>

namespace kavelo::test {
namespace {

[[noreturn]] void fail(const char* what) { throw std::system_error(errno, std::generic_category(), what); }

sockaddr_in loopback(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

// A socket listening on a free port of 127.0.0.1, and that port.
int listen_on_free_port(int& port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) fail("socket");
  sockaddr_in address = loopback(0);
  socklen_t size = sizeof address;
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), size) != 0 || ::listen(fd, 64) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0)
    fail("listen");
  port = ntohs(address.sin_port);
  return fd;
}

// Copies what `from` has to `to`; false once either side is closed.
bool carry(int from, int to) {
  char buffer[1 << 16];
  const ssize_t got = ::read(from, buffer, sizeof buffer);
  if (got <= 0) return false;
  for (ssize_t sent = 0; sent < got;) {
    const ssize_t n = ::write(to, buffer + sent, static_cast<std::size_t>(got - sent));
    if (n <= 0) return false;
    sent += n;
  }
  return true;
}

}  // namespace

SilentPort::SilentPort() { socket_ = listen_on_free_port(port_); }

SilentPort::~SilentPort() { ::close(socket_); }

FreezingRelay::FreezingRelay(int target_port) : target_port_(target_port) {
  listener_ = listen_on_free_port(port_);
  if (::pipe2(wake_, O_CLOEXEC) != 0) fail("pipe");
  thread_ = std::thread([this] { serve(); });
}

FreezingRelay::~FreezingRelay() {
  stop_ = true;
  [[maybe_unused]] const ssize_t n = ::write(wake_[1], "x", 1);
  thread_.join();
  for (const Pair& pair : pairs_) {
    ::close(pair.client);
    ::close(pair.server);
  }
  ::close(listener_);
  ::close(wake_[0]);
  ::close(wake_[1]);
}

void FreezingRelay::freeze() {
  {
    std::lock_guard lock(mutex_);
    for (Pair& pair : pairs_) pair.frozen = true;
  }
  [[maybe_unused]] const ssize_t n = ::write(wake_[1], "x", 1);
}

void FreezingRelay::serve() {
  while (!stop_) {
    std::vector<pollfd> fds = {{listener_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    std::vector<std::size_t> owner;  // the pair of each socket after the first two
    {
      std::lock_guard lock(mutex_);
      for (std::size_t i = 0; i < pairs_.size(); ++i) {
        if (pairs_[i].frozen || pairs_[i].client < 0) continue;
        fds.push_back({pairs_[i].client, POLLIN, 0});
        fds.push_back({pairs_[i].server, POLLIN, 0});
        owner.push_back(i);
        owner.push_back(i);
      }
    }
    if (::poll(fds.data(), fds.size(), -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents) {
      char drained[16];
      [[maybe_unused]] const ssize_t n = ::read(wake_[0], drained, sizeof drained);
      continue;  // frozen pairs are no longer watched
    }
    std::lock_guard lock(mutex_);
    if (fds[0].revents & POLLIN) {
      const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (client >= 0) {
        const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const sockaddr_in address = loopback(target_port_);
        if (server >= 0 && ::connect(server, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
          pairs_.push_back({client, server});
        } else {
          ::close(client);
          if (server >= 0) ::close(server);
        }
      }
    }
    for (std::size_t k = 2; k < fds.size(); ++k) {
      if (!fds[k].revents) continue;
      Pair& pair = pairs_[owner[k - 2]];
      if (pair.frozen || pair.client < 0) continue;
      const bool from_client = fds[k].fd == pair.client;
      if (!carry(fds[k].fd, from_client ? pair.server : pair.client)) {
        ::close(pair.client);
        ::close(pair.server);
        pair.client = pair.server = -1;
      }
    }
  }
}

}  // namespace kavelo::test
