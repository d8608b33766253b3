#include "platform/event_poller.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>

namespace zennic {
namespace {

// The waker's key; sockets are keyed by their owner's numbers, which never reach it.
constexpr uint64_t kWakerKey = UINT64_MAX;
constexpr int kEventsPerWait = 256;

uint32_t EpollEvents(unsigned interest) {
  uint32_t events = 0;
  if (interest & EventPoller::kRead) events |= EPOLLIN;
  if (interest & EventPoller::kWrite) events |= EPOLLOUT;
  return events;
}

}  // namespace

EventPoller::EventPoller()
    : poller_(::epoll_create1(EPOLL_CLOEXEC)), waker_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  if (poller_ >= 0 && waker_ >= 0) {
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.u64 = kWakerKey;
    ::epoll_ctl(poller_, EPOLL_CTL_ADD, waker_, &event);
  }
}

EventPoller::~EventPoller() {
  if (poller_ >= 0) ::close(poller_);
  if (waker_ >= 0) ::close(waker_);
}

bool EventPoller::valid() const { return poller_ >= 0 && waker_ >= 0; }

bool EventPoller::Watch(const TcpSocket& socket, uint64_t key, unsigned interest) {
  epoll_event event{};
  event.events = EpollEvents(interest);
  event.data.u64 = key;
  return ::epoll_ctl(poller_, EPOLL_CTL_ADD, socket.handle_, &event) == 0;
}

bool EventPoller::Change(const TcpSocket& socket, uint64_t key, unsigned interest) {
  epoll_event event{};
  event.events = EpollEvents(interest);
  event.data.u64 = key;
  return ::epoll_ctl(poller_, EPOLL_CTL_MOD, socket.handle_, &event) == 0;
}

void EventPoller::Forget(const TcpSocket& socket) {
  ::epoll_ctl(poller_, EPOLL_CTL_DEL, socket.handle_, nullptr);
}

void EventPoller::Wait(int timeout_ms, std::vector<Event>* events) {
  events->clear();
  epoll_event ready[kEventsPerWait];
  int count = ::epoll_wait(poller_, ready, kEventsPerWait, timeout_ms);
  for (int i = 0; i < count; ++i) {
    if (ready[i].data.u64 == kWakerKey) {
      uint64_t ignored = 0;
      [[maybe_unused]] ssize_t read = ::read(waker_, &ignored, sizeof ignored);
      continue;
    }
    Event event;
    event.key = ready[i].data.u64;
    event.readable = (ready[i].events & EPOLLIN) != 0;
    event.writable = (ready[i].events & EPOLLOUT) != 0;
    event.broken = (ready[i].events & (EPOLLERR | EPOLLHUP)) != 0;
    events->push_back(event);
  }
}

void EventPoller::Wake() {
  uint64_t one = 1;
  [[maybe_unused]] ssize_t written = ::write(waker_, &one, sizeof one);
}

}  // namespace zennic
