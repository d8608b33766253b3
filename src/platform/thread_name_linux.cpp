#include "platform/thread_name.h"

#include <pthread.h>

namespace zennic {

void NameThisThread(const char* name) { pthread_setname_np(pthread_self(), name); }

std::string ThisThreadName() {
  char name[16] = {};
  if (pthread_getname_np(pthread_self(), name, sizeof name) != 0) return {};
  return name;
}

}  // namespace zennic
