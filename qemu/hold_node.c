/* Holds a device node open with O_EXCL, as a burning program holds its
 * drive, until killed. Prints "held" once it has it, "busy ERRNO" if not. */
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  int fd = open(argv[1], O_RDWR | O_EXCL | O_NONBLOCK);
  if (fd < 0) {
    printf("busy %d\n", errno);
    return 1;
  }
  printf("held\n");
  fflush(stdout);
  for (;;) pause();
}
