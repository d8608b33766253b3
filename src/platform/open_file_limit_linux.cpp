#include "platform/open_file_limit.h"

#include <sys/resource.h>

#include <algorithm>

namespace zennic {

size_t RaiseOpenFileLimit(size_t wanted) {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return 0;
  rlim_t target = std::min<rlim_t>(std::max<rlim_t>(limit.rlim_cur, wanted), limit.rlim_max);
  if (target > limit.rlim_cur) {
    rlimit raised = limit;
    raised.rlim_cur = target;
    if (::setrlimit(RLIMIT_NOFILE, &raised) == 0) limit = raised;
  }
  return static_cast<size_t>(limit.rlim_cur);
}

}  // namespace zennic
