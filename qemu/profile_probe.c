/* Reads the current profile of a drive with GET CONFIGURATION (RT=2, no
 * feature), independently of velmo-cli, so the test VM can tell what the
 * drive itself reports. Prints "profile=0xNNNN" or "error ...". */
#include <fcntl.h>
#include <scsi/sg.h>
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>
#include <unistd.h>

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: profile_probe /dev/sgN\n");
    return 64;
  }
  int fd = open(argv[1], O_RDWR | O_NONBLOCK);
  if (fd < 0) {
    perror(argv[1]);
    return 2;
  }
  unsigned char cdb[10] = {0x46, 0x02, 0, 0, 0, 0, 0, 0, 8, 0};
  unsigned char data[8], sense[32];
  memset(data, 0, sizeof data);
  sg_io_hdr_t io;
  memset(&io, 0, sizeof io);
  io.interface_id = 'S';
  io.dxfer_direction = SG_DXFER_FROM_DEV;
  io.cmd_len = sizeof cdb;
  io.cmdp = cdb;
  io.dxfer_len = sizeof data;
  io.dxferp = data;
  io.mx_sb_len = sizeof sense;
  io.sbp = sense;
  io.timeout = 10000;
  if (ioctl(fd, SG_IO, &io) < 0) {
    perror("SG_IO");
    return 2;
  }
  if (io.status != 0 || io.host_status != 0) {
    printf("error status=0x%02x host=0x%x sense=%X/%02X/%02X\n", io.status, io.host_status,
           io.sb_len_wr > 13 ? sense[2] & 0x0F : 0, io.sb_len_wr > 13 ? sense[12] : 0,
           io.sb_len_wr > 13 ? sense[13] : 0);
    return 1;
  }
  printf("profile=0x%02X%02X\n", data[6], data[7]);
  return 0;
}
