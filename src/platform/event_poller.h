#pragma once

#include <cstdint>
#include <vector>

#include "platform/tcp_socket.h"

namespace zennic {

// Waits for any of many sockets at once, so one thread serves every connection that is only
// waiting for its client. Watching, changing and forgetting belong to the waiting thread;
// Wake may be called from any thread.
class EventPoller {
 public:
  enum Interest : unsigned { kRead = 1, kWrite = 2 };

  struct Event {
    uint64_t key = 0;
    bool readable = false;
    bool writable = false;
    // The peer reset the connection, or the socket failed: what is left to read says how.
    bool broken = false;
  };

  EventPoller();
  ~EventPoller();
  EventPoller(const EventPoller&) = delete;
  EventPoller& operator=(const EventPoller&) = delete;

  // False when the system gave no poller.
  bool valid() const;

  // `interest` is a combination of Interest bits; `key` comes back with the socket's events.
  bool Watch(const TcpSocket& socket, uint64_t key, unsigned interest);
  bool Change(const TcpSocket& socket, uint64_t key, unsigned interest);
  void Forget(const TcpSocket& socket);

  // Waits at most `timeout_ms` (-1: without limit) for events, or for Wake, and replaces
  // `events` with what happened.
  void Wait(int timeout_ms, std::vector<Event>* events);
  // Ends the current or the next Wait at once.
  void Wake();

 private:
  int poller_ = -1;
  int waker_ = -1;
};

}  // namespace zennic
