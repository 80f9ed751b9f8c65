// The spot server: one thread, poll() over the listening socket, a wake-up
// pipe and the clients; see telnet_server.h for what clients see.
#include "net/telnet_server.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <deque>
#include <list>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace talvo {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kOutChunk = 16384;  // bytes moved from the queue to the socket at a time
// Answers (sh/dx ...) waiting for a client beyond which its input is not
// read until they have gone: a client that asks and never reads is held
// back by its own socket, and dropped when it stalls.
constexpr std::size_t kMaxAnswerBytes = 256 * 1024;
constexpr std::size_t kMaxPending = 10000;  // published lines the thread may fall behind by
constexpr int kTickMs = 100;                // poll timeout, for stall and drain checks

// A line waiting for a client.
struct Line {
  std::string text;              // with CR LF
  std::uint64_t dropped_before;  // lines lost just before it, not yet told
};

std::string drop_notice(std::uint64_t n) {
  return "*** " + std::to_string(n) + " spots dropped: your connection is too slow\r\n";
}

struct Client {
  int fd = -1;                  // the connection
  TelnetSession session;        // what it typed and asked for
  bool logged_in = false;       // counted as logged in
  std::deque<Line> queue;       // lines waiting
  std::size_t queue_bytes = 0;  // bytes in queue
  std::uint64_t dropped = 0;    // lines dropped and not yet told
  std::string out;              // bytes being sent
  std::size_t out_pos = 0;      // bytes of out already sent
  Clock::time_point progress;   // when it last took a byte or had nothing waiting
  bool has_output() const { return out_pos < out.size() || !queue.empty() || dropped > 0; }
  bool reads() const { return out.size() - out_pos < kMaxAnswerBytes; }
};

std::string errno_text(int e) {
  return std::strerror(e);
}

}  // namespace

struct TelnetServer::Impl {
  TelnetOptions opt;
  int listen_fd = -1;
  int wake[2] = {-1, -1};  // publish() and stop() write a byte to wake[1]
  int port = 0;
  std::thread thread;

  std::mutex m;                       // guards pending, stopping, stopped
  std::deque<HeldSpot> pending;       // published spots not yet handed to the clients
  std::uint64_t pending_dropped = 0;  // lines lost because pending was full
  bool stopping = false;              // stop() was called
  bool stopped = false;               // the thread has been joined

  std::atomic<int> connected{0}, logged_in{0};
  std::atomic<std::uint64_t> dropped{0}, stalled_out{0};
  std::atomic<std::size_t> published{0};

  std::list<Client> clients;  // server thread only
  SpotHistory history{0};     // server thread only: the last spots, for sh/dx

  ~Impl() {
    if (listen_fd >= 0) close(listen_fd);
    for (int fd : wake)
      if (fd >= 0) close(fd);
  }

  void wake_up() {
    const char b = 1;
    // A full pipe already wakes the thread.
    [[maybe_unused]] const ssize_t n = write(wake[1], &b, 1);
  }

  void run();
  void accept_clients(Clock::time_point now);
  void distribute(std::deque<HeldSpot>& lines, std::uint64_t lost);
  bool read_input(Client& c);
  void take_bytes(Client& c, const unsigned char* p, std::size_t n);
  bool flush(Client& c, Clock::time_point now);
  void close_client(std::list<Client>::iterator it);
};

void TelnetServer::Impl::close_client(std::list<Client>::iterator it) {
  if (it->logged_in) logged_in--;
  connected--;
  close(it->fd);
  clients.erase(it);
}

void TelnetServer::Impl::accept_clients(Clock::time_point now) {
  for (;;) {
    const int fd = accept4(listen_fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) return;  // EAGAIN, or a connection that died in the backlog
    if (static_cast<int>(clients.size()) >= opt.max_clients) {
      const char msg[] = "*** Too many connections, try again later\r\n";
      [[maybe_unused]] const ssize_t n = send(fd, msg, sizeof msg - 1, MSG_NOSIGNAL | MSG_DONTWAIT);
      close(fd);
      continue;
    }
    if (opt.send_buffer > 0)
      setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &opt.send_buffer, sizeof opt.send_buffer);
    Client& c = clients.emplace_back();
    c.fd = fd;
    c.out = TelnetSession::kPrompt;
    c.progress = now;
    connected++;
  }
}

void TelnetServer::Impl::distribute(std::deque<HeldSpot>& lines, std::uint64_t lost) {
  for (const HeldSpot& l : lines)
    history.add(l);
  for (Client& c : clients) {
    if (!c.session.wants_spots()) continue;
    // Lines lost before they reached the clients are newer than every
    // waiting line and older than these: the notice goes before the first.
    std::uint64_t before = lost;
    dropped += lost;
    for (const HeldSpot& h : lines) {
      std::string l = c.session.render(h);
      c.queue_bytes += l.size();
      c.queue.push_back(Line{std::move(l), before});
      before = 0;
      while (!c.queue.empty() &&
             (c.queue.size() > opt.queue_lines || c.queue_bytes > opt.queue_bytes)) {
        // The oldest goes; what was lost before it is now lost before the next.
        const std::uint64_t gone = c.queue.front().dropped_before + 1;
        c.queue_bytes -= c.queue.front().text.size();
        c.queue.pop_front();
        dropped++;
        if (c.queue.empty())
          c.dropped += gone;
        else
          c.queue.front().dropped_before += gone;
      }
    }
    c.dropped += before;  // no lines came after the lost ones
  }
}

void TelnetServer::Impl::take_bytes(Client& c, const unsigned char* p, std::size_t n) {
  c.session.take(p, n, history, static_cast<std::int64_t>(std::time(nullptr)), c.out);
  if (c.session.logged_in() && !c.logged_in) {
    c.logged_in = true;
    logged_in++;
  }
}

// Reads what the client sent; false when it has gone.
bool TelnetServer::Impl::read_input(Client& c) {
  unsigned char buf[4096];
  for (;;) {
    if (!c.reads()) return true;  // the rest waits until its answers have gone
    const ssize_t n = recv(c.fd, buf, sizeof buf, MSG_DONTWAIT);
    if (n > 0) {
      take_bytes(c, buf, static_cast<std::size_t>(n));
      continue;
    }
    if (n == 0) return false;
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
  }
}

// Sends what the socket takes; false when the connection failed.
bool TelnetServer::Impl::flush(Client& c, Clock::time_point now) {
  for (;;) {
    if (c.out_pos >= c.out.size()) {
      c.out.clear();
      c.out_pos = 0;
      while (!c.queue.empty() && c.out.size() < kOutChunk) {
        const Line& l = c.queue.front();
        c.dropped += l.dropped_before;
        if (c.dropped > 0) c.out += drop_notice(c.dropped);
        c.dropped = 0;
        c.out += l.text;
        c.queue_bytes -= l.text.size();
        c.queue.pop_front();
      }
      if (c.dropped > 0) c.out += drop_notice(c.dropped);
      c.dropped = 0;
      if (c.out.empty()) {
        c.progress = now;
        return true;
      }
    }
    const ssize_t n =
        send(c.fd, c.out.data() + c.out_pos, c.out.size() - c.out_pos, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      c.out_pos += static_cast<std::size_t>(n);
      c.progress = now;
      continue;
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return true;
    return false;
  }
}

void TelnetServer::Impl::run() {
  std::vector<pollfd> fds;
  std::vector<std::list<Client>::iterator> polled;
  std::deque<HeldSpot> lines;
  bool draining = false;
  Clock::time_point drain_end;
  for (;;) {
    fds.clear();
    polled.clear();
    fds.push_back({wake[0], POLLIN, 0});
    fds.push_back({draining ? -1 : listen_fd, POLLIN, 0});
    for (auto it = clients.begin(); it != clients.end(); ++it) {
      const int in = it->reads() ? POLLIN : 0;
      fds.push_back({it->fd, static_cast<short>(in | (it->has_output() ? POLLOUT : 0)), 0});
      polled.push_back(it);
    }
    poll(fds.data(), fds.size(), kTickMs);
    const Clock::time_point now = Clock::now();

    if (fds[0].revents & POLLIN) {
      char buf[256];
      while (read(wake[0], buf, sizeof buf) > 0) {
      }
    }
    std::uint64_t lost = 0;
    {
      std::lock_guard<std::mutex> lock(m);
      lines.swap(pending);
      lost = pending_dropped;
      pending_dropped = 0;
      if (stopping && !draining) {
        draining = true;
        drain_end = now + std::chrono::duration_cast<Clock::duration>(
                              std::chrono::duration<double>(opt.drain_seconds));
      }
    }
    if (!lines.empty() || lost > 0) distribute(lines, lost);
    lines.clear();

    for (std::size_t i = 0; i < polled.size(); i++) {
      Client& c = *polled[i];
      const short ev = fds[i + 2].revents;
      bool alive = true;
      // A client whose answers pile up is not read (a hang-up still ends it).
      if (ev & (POLLIN | POLLHUP | POLLERR))
        alive = c.reads() ? read_input(c) : !(ev & (POLLHUP | POLLERR));
      if (alive && (ev & POLLERR)) alive = false;
      if (alive) alive = flush(c, now);
      // A client that said bye goes once its answer is out.
      if (alive && c.session.leaving() && c.out_pos >= c.out.size()) alive = false;
      if (alive && c.has_output() &&
          now - c.progress > std::chrono::duration<double>(opt.stall_seconds)) {
        alive = false;
        stalled_out++;
      }
      if (!alive) close_client(polled[i]);
    }
    if (!draining && fds[1].revents & POLLIN) accept_clients(now);
    // Newly accepted clients get their prompt now.
    for (auto it = clients.begin(); it != clients.end();) {
      auto next = std::next(it);
      if (it->out_pos == 0 && !it->out.empty() && !flush(*it, now)) close_client(it);
      it = next;
    }

    if (draining) {
      bool waiting = false;
      for (const Client& c : clients)
        waiting = waiting || (c.logged_in && c.has_output());
      if (!waiting || now >= drain_end) break;
    }
  }
  for (auto it = clients.begin(); it != clients.end();) {
    auto next = std::next(it);
    read_input(*it);  // unread input would turn the close into a reset
    shutdown(it->fd, SHUT_WR);
    close_client(it);
    it = next;
  }
  close(listen_fd);
  listen_fd = -1;
}

Opened<TelnetServer> TelnetServer::start(const TelnetOptions& o) {
  Opened<TelnetServer> result;
  std::string& error = result.error;
  if (o.port < 0 || o.port > 65535) {
    error = "bad port " + std::to_string(o.port) + ": use 0 to 65535";
    return result;
  }
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV | AI_PASSIVE;
  addrinfo* ai = nullptr;
  if (getaddrinfo(o.address.c_str(), std::to_string(o.port).c_str(), &hints, &ai) != 0 || !ai) {
    error = "bad listen address '" + o.address + "': give a numeric IPv4 or IPv6 address";
    return result;
  }
  auto impl = std::make_unique<Impl>();
  impl->opt = o;
  impl->history = SpotHistory(o.history);
  const std::string where = o.address + " port " + std::to_string(o.port);
  impl->listen_fd = socket(ai->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (impl->listen_fd < 0) {
    error = "cannot listen on " + where + ": " + errno_text(errno);
    freeaddrinfo(ai);
    return result;
  }
  const int one = 1;
  setsockopt(impl->listen_fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  const int bound = bind(impl->listen_fd, ai->ai_addr, ai->ai_addrlen);
  const int bind_errno = errno;
  freeaddrinfo(ai);
  if (bound != 0 || listen(impl->listen_fd, 64) != 0) {
    error = "cannot listen on " + where + ": " + errno_text(bound != 0 ? bind_errno : errno);
    return result;
  }
  sockaddr_storage sa{};
  socklen_t len = sizeof sa;
  if (getsockname(impl->listen_fd, reinterpret_cast<sockaddr*>(&sa), &len) != 0) {
    error = "cannot listen on " + where + ": " + errno_text(errno);
    return result;
  }
  impl->port = sa.ss_family == AF_INET6 ? ntohs(reinterpret_cast<sockaddr_in6*>(&sa)->sin6_port)
                                        : ntohs(reinterpret_cast<sockaddr_in*>(&sa)->sin_port);
  if (pipe2(impl->wake, O_NONBLOCK | O_CLOEXEC) != 0) {
    error = "cannot make the server's wake-up pipe: " + errno_text(errno);
    return result;
  }
  try {
    Impl* p = impl.get();
    impl->thread = std::thread([p] { p->run(); });
  } catch (const std::system_error& e) {
    error = std::string("cannot start the server thread: ") + e.what();
    return result;
  }
  result.source.reset(new TelnetServer(std::move(impl)));
  return result;
}

TelnetServer::TelnetServer(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

TelnetServer::~TelnetServer() {
  stop();
}

int TelnetServer::port() const {
  return impl_->port;
}

void TelnetServer::publish(std::string_view line, std::int64_t utc) {
  std::string l;
  l.reserve(line.size() + 2);
  for (char c : line)
    if (c != '\r' && c != '\n') l.push_back(c);
  {
    std::lock_guard<std::mutex> lock(impl_->m);
    if (impl_->stopping) return;
    impl_->pending.push_back(HeldSpot{std::move(l), utc});
    impl_->published++;
    // The thread takes pending at every wake-up; should it fall behind, the
    // oldest lines go, counted as dropped for every client.
    if (impl_->pending.size() > std::max<std::size_t>(impl_->opt.queue_lines, kMaxPending)) {
      impl_->pending.pop_front();
      impl_->pending_dropped++;
    }
  }
  impl_->wake_up();
}

TelnetStats TelnetServer::stats() const {
  TelnetStats s;
  s.connected = impl_->connected;
  s.logged_in = impl_->logged_in;
  s.dropped = impl_->dropped;
  s.stalled_out = impl_->stalled_out;
  s.spots = impl_->published;
  return s;
}

void TelnetServer::stop() {
  {
    std::lock_guard<std::mutex> lock(impl_->m);
    if (impl_->stopped) return;
    impl_->stopping = true;
    impl_->stopped = true;
  }
  impl_->wake_up();
  if (impl_->thread.joinable()) impl_->thread.join();
}

}  // namespace talvo
