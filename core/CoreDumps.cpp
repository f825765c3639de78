#include "core/CoreDumps.h"

#include <sys/prctl.h>
#include <sys/resource.h>

#include <cerrno>
#include <cstring>

bool DisableCoreDumps(std::string& error) {
  error.clear();
  // Both, since each alone can be undone: a core pattern that pipes to a handler ignores the
  // size limit, and the dumpable flag comes back at the next exec.
  const rlimit none{0, 0};
  if (::setrlimit(RLIMIT_CORE, &none) != 0) {
    error = std::string("cannot set the core size limit: ") + std::strerror(errno);
  }
  if (::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0) != 0) {
    if (!error.empty()) error += "; ";
    error += std::string("cannot mark the process not dumpable: ") + std::strerror(errno);
  }
  return error.empty();
}
