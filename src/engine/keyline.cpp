#include "engine/keyline.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace talvo {
namespace {

static_assert(TIOCMBIS == kTiocmbis && TIOCMBIC == kTiocmbic);

class SerialKeyLine : public KeyLine {
 public:
  explicit SerialKeyLine(int fd) : fdser_(fd) {}
  void set(bool down) override {
    if (ioctl(fdser_, down ? kTiocmbis : kTiocmbic, &RTS_flag_) == 0 || lost_) return;
    // An adapter that was unplugged answers with these; a device without
    // modem lines (ENOTTY, EINVAL) never keyed anything and is not "lost".
    if (errno == EIO || errno == ENXIO || errno == ENODEV || errno == EBADF) {
      lost_ = true;
      std::fputs("serial device lost: the key line no longer answers; decoding goes on\n", stderr);
    }
  }

 private:
  int fdser_;                 // the open device; never closed, process exit releases it
  int RTS_flag_ = TIOCM_RTS;  // modem-line mask handed to every request
  bool lost_ = false;         // said so once
};

}  // namespace

std::unique_ptr<KeyLine> keyline_on(int fd) {
  return std::make_unique<SerialKeyLine>(fd);
}

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
  line->set(false);  // the key line starts released
  return line;
}

}  // namespace talvo
