#include "support/loopback.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace talvo::test {

int free_port() {
  const int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = 0;
  socklen_t len = sizeof a;
  int port = -1;
  if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) == 0)
    port = ntohs(a.sin_port);
  close(s);
  return port;
}

std::vector<std::string> netcat(int port) {
  return {"nc", "127.0.0.1", std::to_string(port)};
}

std::vector<std::string> dx_lines(const std::string& bytes, const std::string& end) {
  std::vector<std::string> r;
  std::size_t p = 0;
  while ((p = bytes.find("DX de", p)) != std::string::npos) {
    const std::size_t e = bytes.find(end, p);
    if (e == std::string::npos) break;
    r.push_back(bytes.substr(p, e - p));
    p = e + end.size();
  }
  return r;
}

std::vector<std::string> python_script(const char* script, const std::vector<std::string>& args) {
  std::vector<std::string> argv = {"python3", "-c", script};
  argv.insert(argv.end(), args.begin(), args.end());
  return argv;
}

}  // namespace talvo::test
