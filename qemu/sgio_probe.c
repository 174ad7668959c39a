/* Shows what SG_IO itself returns for the supported drive's commands, raw:
 * enter the diagnostic mode, take N samples (30 s time-out each), leave.
 * One line per command: errno, status, host and driver status, duration. */
#include <errno.h>
#include <fcntl.h>
#include <scsi/sg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <unistd.h>

static void send(int fd, const char* what, unsigned char op, unsigned timeout_ms) {
  unsigned char cdb[12] = {0xFD, op, 'V', 'L', 'M', 'O'};
  unsigned char data[8] = {0}, sense[32] = {0};
  sg_io_hdr_t io;
  memset(&io, 0, sizeof io);
  if (op == 0xFB) {
    cdb[6] = 0x05;
    cdb[7] = 0x12;
    cdb[9] = 0x03; /* PSN 0x030000 */
  }
  io.interface_id = 'S';
  io.cmd_len = sizeof cdb;
  io.cmdp = cdb;
  io.dxfer_direction = op == 0xFB ? SG_DXFER_FROM_DEV : SG_DXFER_NONE;
  io.dxfer_len = op == 0xFB ? sizeof data : 0;
  io.dxferp = data;
  io.mx_sb_len = sizeof sense;
  io.sbp = sense;
  io.timeout = timeout_ms;
  int rc = ioctl(fd, SG_IO, &io);
  printf(
      "%s rc=%d errno=%d status=0x%02x host_status=0x%02x driver_status=0x%02x duration=%u ms"
      " sense=%02x/%02x/%02x\n",
      what, rc, rc < 0 ? errno : 0, io.status, io.host_status, io.driver_status, io.duration,
      sense[2] & 0x0F, sense[12], sense[13]);
  fflush(stdout);
}

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  int fd = open(argv[1], O_RDWR | O_NONBLOCK);
  if (fd < 0) {
    perror(argv[1]);
    return 1;
  }
  int samples = atoi(argv[2]);
  send(fd, "enter", 0xF1, 15000);
  for (int i = 1; i <= samples; ++i) {
    char what[32];
    snprintf(what, sizeof what, "sample-%d", i);
    send(fd, what, 0xFB, 30000);
  }
  send(fd, "leave", 0xF2, 15000);
  return 0;
}
