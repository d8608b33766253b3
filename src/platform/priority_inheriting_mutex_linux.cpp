#include "platform/priority_inheriting_mutex.h"

#include <pthread.h>

#include <system_error>

namespace zennic {

struct PriorityInheritingMutex::Native {
  pthread_mutex_t mutex;
};

PriorityInheritingMutex::PriorityInheritingMutex() : native_(std::make_unique<Native>()) {
  pthread_mutexattr_t attributes;
  pthread_mutexattr_init(&attributes);
  // Where the system has no priority inheritance the mutex is a plain one.
  if (pthread_mutexattr_setprotocol(&attributes, PTHREAD_PRIO_INHERIT) != 0 ||
      pthread_mutex_init(&native_->mutex, &attributes) != 0) {
    pthread_mutex_init(&native_->mutex, nullptr);
  }
  pthread_mutexattr_destroy(&attributes);
}

PriorityInheritingMutex::~PriorityInheritingMutex() { pthread_mutex_destroy(&native_->mutex); }

void PriorityInheritingMutex::lock() {
  if (int error = pthread_mutex_lock(&native_->mutex); error != 0) {
    throw std::system_error(error, std::generic_category(), "mutex lock");
  }
}

bool PriorityInheritingMutex::try_lock() { return pthread_mutex_trylock(&native_->mutex) == 0; }

void PriorityInheritingMutex::unlock() { pthread_mutex_unlock(&native_->mutex); }

}  // namespace zennic
