#pragma once
// Networks that fail as real ones do, for the scenarios of a server that
// stops answering: a port where something listens and never says a word,
// and a relay to the server that stops carrying its connections in mid-run
// while keeping their sockets open (as a proxy or a firewall that loses its
// state does: nobody's kernel tells the client anything).
#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kavelo::test {

// A port of 127.0.0.1 that takes connections (the kernel completes them)
// and never reads or writes.
class SilentPort {
 public:
  SilentPort();
  ~SilentPort();
  SilentPort(const SilentPort&) = delete;
  SilentPort& operator=(const SilentPort&) = delete;
  int port() const { return port_; }

 private:
  int socket_ = -1;
  int port_ = 0;
};

// Relays connections to a port of 127.0.0.1 to `target_port` there.
class FreezingRelay {
 public:
  explicit FreezingRelay(int target_port);
  ~FreezingRelay();
  FreezingRelay(const FreezingRelay&) = delete;
  FreezingRelay& operator=(const FreezingRelay&) = delete;
  int port() const { return port_; }

  // From now on the connections relayed so far carry nothing either way, and
  // their sockets stay open; connections made later are relayed.
  void freeze();

 private:
  struct Pair {
    int client, server;
    bool frozen = false;
  };
  void serve();

  int target_port_;
  int listener_ = -1;
  int port_ = 0;
  int wake_[2] = {-1, -1};
  std::atomic<bool> stop_ = false;
  std::mutex mutex_;
  std::vector<Pair> pairs_;
  std::thread thread_;
};

}  // namespace kavelo::test
