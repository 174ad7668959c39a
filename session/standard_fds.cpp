#include "session/standard_fds.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

void ReopenClosedStandardDescriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // The lowest free descriptor: this one, as the ones below are open.
    const int opened = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (opened >= 0 && opened != fd) close(opened);
  }
}
