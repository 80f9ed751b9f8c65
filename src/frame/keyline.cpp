#include "frame/keyline.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>

namespace talvo {
namespace {

static_assert(TIOCMBIS == kTiocmbis && TIOCMBIC == kTiocmbic);

class SerialKeyLine : public KeyLine {
 public:
  explicit SerialKeyLine(int fd) : fdser_(fd) {}
  void request(unsigned long rts) override { (void)ioctl(fdser_, rts, &RTS_flag_); }

 private:
  int fdser_;                 // the open device; never closed, process exit releases it
  int RTS_flag_ = TIOCM_RTS;  // modem-line mask handed to every request
};

}  // namespace

std::unique_ptr<KeyLine> open_serial_keyline(const char* seroutdev) {
  const int fd = open(seroutdev, O_RDWR | O_NOCTTY | O_NDELAY);
  if (fd < 0) return nullptr;
  termios tio;
  std::memset(&tio, 0, sizeof tio);
  tio.c_iflag = IGNBRK | IGNPAR;
  tio.c_oflag = OPOST | ONLCR;
  tio.c_cflag = B115200 | CS8 | CREAD | CLOCAL;
  tio.c_lflag = 0;
  tio.c_cc[VTIME] = 0;
  tio.c_cc[VMIN] = 1;
  cfsetispeed(&tio, B115200);
  cfsetospeed(&tio, B115200);
  (void)tcsetattr(fd, TCSANOW, &tio);
  auto line = std::make_unique<SerialKeyLine>(fd);
  line->request(kTiocmbic);  // the key line starts released
  return line;
}

}  // namespace talvo
