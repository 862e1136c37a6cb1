// cobrix_delay_relay: a TCP relay for the benchmarks that puts distance
// between a client and a server on the same machine. It listens on a
// loopback port, opens one connection to the target for every connection it
// accepts, and holds every chunk of bytes for half the round trip in each
// direction before passing it on, in order. No bandwidth cap: a chunk is
// read as soon as it arrives and kept until it is due. The handshake that a
// real link would cost (one round trip before the client's first byte can
// leave) is added to what the client sends before it hears anything, which
// fits protocols where the client speaks first (PostgreSQL's). TLS and any
// other protocol pass through untouched.
//
// Prints "PORT=<port>" on standard output once it listens, and for every
// connection that ends one line on standard error:
//   closed conn=N seconds=S up=BYTES down=BYTES round_trips=R
// where round_trips counts the handshake plus every time the client spoke
// again after an answer for which it had waited (silent for at least 90 % of
// a round trip), the waits that distance makes longer. SIGTERM or SIGINT
// stop it (exit status 0).
//   usage: cobrix_delay_relay --to HOST:PORT --rtt-ms MS [--listen ADDR] [--port PORT]

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <iostream>
#include <map>
#include <memory>
#include <queue>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void fail(const std::string& what) { throw std::system_error(errno, std::generic_category(), what); }

// Owns one file descriptor and closes it once.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Fd& operator=(Fd&& other) noexcept {
    if (this != &other) {
      reset();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() { reset(); }

  int get() const { return fd_; }
  void reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
};

struct Options {
  std::string to_host;
  std::string to_port;
  std::string listen = "127.0.0.1";
  std::uint16_t port = 0;
  Clock::duration rtt{};
};

// Bytes read but not yet due: a chunk leaves half a round trip after it came
// in (and never before the emulated handshake is over).
struct Chunk {
  Clock::time_point due;
  std::string bytes;  // empty: the end of the stream
};

// One direction of a relayed connection: bytes read from `from`, held, and
// written to `to` once due.
struct Direction {
  int from = -1;
  int to = -1;
  std::deque<Chunk> held;
  std::string out;             // due, not yet accepted by `to`
  std::size_t out_sent = 0;    // bytes of `out` already written
  std::size_t buffered = 0;    // bytes held or waiting in `out`
  bool read_end = false;       // `from` said end of stream
  bool end_due = false;        // the end reached `out`: shut `to` down when empty
  bool shut = false;           // `to` shut down for writing
  std::uint64_t bytes = 0;     // bytes read in this direction
};

// Stops reading from a side while this much is waiting to be written.
constexpr std::size_t kMaxBuffered = 64 << 20;
constexpr std::size_t kReadSize = 64 << 10;

struct Link {
  std::uint64_t id = 0;
  Fd client;
  Fd server;
  Direction up;    // client to server
  Direction down;  // server to client
  Clock::time_point opened;
  Clock::time_point last_client_read;
  bool server_connected = false;
  bool heard = false;     // bytes have reached the client
  bool answered = false;  // bytes reached the client since it last spoke
  std::uint64_t waits = 0;
  std::uint32_t client_mask = 0;
  std::uint32_t server_mask = 0;
};

// A direction with a chunk due at `due`; the earliest comes first.
struct Timer {
  Clock::time_point due;
  std::uint64_t link;
  bool up;
  bool operator>(const Timer& other) const { return due > other.due; }
};

// epoll tags: the listener, the signals and the timer, then each link's two
// sides (links are numbered from 1).
constexpr std::uint64_t kListenTag = 0;
constexpr std::uint64_t kSignalTag = 1;
constexpr std::uint64_t kTimerTag = 2;
std::uint64_t tag(std::uint64_t link, bool server) { return (link << 2) | (server ? 1 : 0); }

void set_nodelay(int fd) {
  const int on = 1;
  if (::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) < 0) fail("setsockopt TCP_NODELAY");
}

// The relay: one listener, any number of links, one timer for the chunks
// held in all of them.
class Relay {
 public:
  // Resolves the target and listens; blocks SIGTERM and SIGINT, which the
  // loop then reads. Throws std::system_error (or std::runtime_error for a
  // name that does not resolve) when it cannot.
  explicit Relay(Options options) : options_(std::move(options)), one_way_(options_.rtt / 2) {
    resolve_target();
    listen_on();
    block_signals();
    epoll_ = Fd(::epoll_create1(EPOLL_CLOEXEC));
    if (epoll_.get() < 0) fail("epoll_create1");
    add(listener_.get(), EPOLLIN, kListenTag);
    add(signals_.get(), EPOLLIN, kSignalTag);
    // The kernel may fire a timer up to its slack late (50 µs by default);
    // 1 µs keeps the added delay at what was asked.
    if (::prctl(PR_SET_TIMERSLACK, 1UL) < 0) fail("prctl PR_SET_TIMERSLACK");
    timer_ = Fd(::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC));
    if (timer_.get() < 0) fail("timerfd_create");
    add(timer_.get(), EPOLLIN, kTimerTag);
  }

  std::uint16_t port() const { return bound_port_; }

  // Relays until SIGTERM or SIGINT. Throws std::system_error when the
  // relay itself cannot go on (a failing connection only ends that link).
  void run() {
    std::vector<epoll_event> events(64);
    while (!stopping_) {
      arm_timer();
      const int ready = ::epoll_wait(epoll_.get(), events.data(), static_cast<int>(events.size()), -1);
      if (ready < 0) {
        if (errno == EINTR) continue;
        fail("epoll_wait");
      }
      for (int i = 0; i < ready; ++i) dispatch(events[i]);
      fire_timers();
    }
  }

 private:
  void resolve_target() {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int rc = ::getaddrinfo(options_.to_host.c_str(), options_.to_port.c_str(), &hints, &found);
    if (rc != 0) throw std::runtime_error("getaddrinfo " + options_.to_host + ": " + ::gai_strerror(rc));
    std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> owner(found, ::freeaddrinfo);
    target_.assign(reinterpret_cast<const char*>(found->ai_addr), found->ai_addrlen);
    target_family_ = found->ai_family;
  }

  void listen_on() {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(options_.port);
    if (::inet_pton(AF_INET, options_.listen.c_str(), &addr.sin_addr) != 1)
      throw std::runtime_error("endereço IPv4 inválido: " + options_.listen);
    listener_ = Fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (listener_.get() < 0) fail("socket");
    const int on = 1;
    if (::setsockopt(listener_.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) < 0) fail("setsockopt");
    if (::bind(listener_.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) < 0) fail("bind");
    if (::listen(listener_.get(), 128) < 0) fail("listen");
    socklen_t len = sizeof addr;
    if (::getsockname(listener_.get(), reinterpret_cast<sockaddr*>(&addr), &len) < 0) fail("getsockname");
    bound_port_ = ntohs(addr.sin_port);
  }

  void block_signals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    if (::sigprocmask(SIG_BLOCK, &set, nullptr) < 0) fail("sigprocmask");
    signals_ = Fd(::signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC));
    if (signals_.get() < 0) fail("signalfd");
    ::signal(SIGPIPE, SIG_IGN);
  }

  void add(int fd, std::uint32_t mask, std::uint64_t data) {
    epoll_event ev{};
    ev.events = mask;
    ev.data.u64 = data;
    if (::epoll_ctl(epoll_.get(), EPOLL_CTL_ADD, fd, &ev) < 0) fail("epoll_ctl");
  }

  // The timer descriptor fires when the earliest held chunk is due, to the
  // nanosecond (steady_clock is CLOCK_MONOTONIC); disarmed when none is held.
  void arm_timer() {
    const Clock::time_point due = timers_.empty() ? Clock::time_point{} : timers_.top().due;
    if (due == armed_) return;
    itimerspec when{};
    if (!timers_.empty()) {
      const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(due.time_since_epoch()).count();
      when.it_value.tv_sec = ns / 1'000'000'000;
      when.it_value.tv_nsec = ns % 1'000'000'000;
      if (when.it_value.tv_sec == 0 && when.it_value.tv_nsec == 0) when.it_value.tv_nsec = 1;
    }
    if (::timerfd_settime(timer_.get(), TFD_TIMER_ABSTIME, &when, nullptr) < 0) fail("timerfd_settime");
    armed_ = due;
  }

  void dispatch(const epoll_event& ev) {
    if (ev.data.u64 == kListenTag) return accept_all();
    if (ev.data.u64 == kSignalTag) {
      stopping_ = true;
      return;
    }
    if (ev.data.u64 == kTimerTag) {
      std::uint64_t expirations = 0;
      if (::read(timer_.get(), &expirations, sizeof expirations) < 0 && errno != EAGAIN) fail("read timerfd");
      armed_ = Clock::time_point{};  // fired: arm again for what is left
      return;
    }
    const std::uint64_t id = ev.data.u64 >> 2;
    const bool server_side = ev.data.u64 & 1;
    const auto it = links_.find(id);
    if (it == links_.end()) return;
    Link& link = *it->second;
    try {
      if (ev.events & (EPOLLOUT | EPOLLERR | EPOLLHUP)) write_out(link, server_side ? link.up : link.down);
      if (ev.events & (EPOLLIN | EPOLLERR | EPOLLHUP)) read_in(link, server_side);
      if (finished(link)) return close_link(id);
      watch(link);
    } catch (const std::system_error& e) {
      // A reset or refused connection ends this link only.
      std::cerr << "conn=" << id << ": " << e.what() << "\n";
      close_link(id);
    }
  }

  void accept_all() {
    while (true) {
      Fd client(::accept4(listener_.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
      if (client.get() < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return;
        if (errno == ECONNABORTED) continue;
        fail("accept4");
      }
      Fd server(::socket(target_family_, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
      if (server.get() < 0) fail("socket");
      set_nodelay(client.get());
      set_nodelay(server.get());
      if (::connect(server.get(), reinterpret_cast<const sockaddr*>(target_.data()),
                    static_cast<socklen_t>(target_.size())) < 0 &&
          errno != EINPROGRESS) {
        std::cerr << "connect " << options_.to_host << ":" << options_.to_port << ": " << std::strerror(errno)
                  << "\n";
        continue;  // the client sees its connection closed
      }
      auto link = std::make_unique<Link>();
      link->id = next_id_++;
      link->opened = link->last_client_read = Clock::now();
      link->up.from = link->down.to = client.get();
      link->up.to = link->down.from = server.get();
      link->client = std::move(client);
      link->server = std::move(server);
      link->client_mask = EPOLLIN;
      // Writable once the connection to the target is made; a refused one
      // shows as EPOLLERR.
      link->server_mask = EPOLLIN | EPOLLOUT;
      add(link->client.get(), link->client_mask, tag(link->id, false));
      add(link->server.get(), link->server_mask, tag(link->id, true));
      links_.emplace(link->id, std::move(link));
    }
  }

  // Reads what one side has and holds it for the other.
  void read_in(Link& link, bool server_side) {
    Direction& dir = server_side ? link.down : link.up;
    if (dir.read_end || dir.buffered >= kMaxBuffered) return;
    char buf[kReadSize];
    while (dir.buffered < kMaxBuffered) {
      const ssize_t n = ::read(dir.from, buf, sizeof buf);
      if (n < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK) return;
        if (errno == EINTR) continue;
        // A peer that closes with bytes unread resets the connection (a
        // server leaving after the client's last message while a TLS
        // close_notify is still on its way): the end of that direction.
        if (errno != ECONNRESET) fail(server_side ? "read do servidor" : "read do cliente");
      }
      const std::size_t got = n > 0 ? static_cast<std::size_t>(n) : 0;
      const Clock::time_point now = Clock::now();
      if (!server_side) count_wait(link, now);
      hold(link, dir, !server_side, now, std::string(buf, got));
      if (got == 0) {
        dir.read_end = true;
        return;
      }
    }
  }

  // The client speaks again: a wait ended if an answer reached it and it
  // had been silent for most of a round trip.
  void count_wait(Link& link, Clock::time_point now) {
    if (link.answered && now - link.last_client_read >= options_.rtt * 9 / 10) ++link.waits;
    link.answered = false;
    link.last_client_read = now;
  }

  void hold(Link& link, Direction& dir, bool up, Clock::time_point now, std::string bytes) {
    Clock::time_point due = now + one_way_;
    // On a real link the client's connect() returns one round trip later
    // than here, so what it sends before its first answer leaves one round
    // trip later too.
    if (up && !link.heard) due += options_.rtt;
    // Never ahead of an earlier chunk.
    if (!dir.held.empty() && due < dir.held.back().due) due = dir.held.back().due;
    dir.bytes += bytes.size();
    dir.buffered += bytes.size();
    dir.held.push_back({due, std::move(bytes)});
    timers_.push({due, link.id, up});
  }

  void fire_timers() {
    const Clock::time_point now = Clock::now();
    while (!timers_.empty() && timers_.top().due <= now) {
      const Timer timer = timers_.top();
      timers_.pop();
      const auto it = links_.find(timer.link);
      if (it == links_.end()) continue;
      Link& link = *it->second;
      Direction& dir = timer.up ? link.up : link.down;
      try {
        while (!dir.held.empty() && dir.held.front().due <= now) {
          Chunk& chunk = dir.held.front();
          if (chunk.bytes.empty()) dir.end_due = true;
          dir.out += chunk.bytes;
          dir.held.pop_front();
        }
        write_out(link, dir);
        if (finished(link)) {
          close_link(timer.link);
          continue;
        }
        watch(link);
      } catch (const std::system_error& e) {
        std::cerr << "conn=" << timer.link << ": " << e.what() << "\n";
        close_link(timer.link);
      }
    }
  }

  // Writes what is due in `dir`, then passes the end of the stream on.
  void write_out(Link& link, Direction& dir) {
    while (dir.out_sent < dir.out.size()) {
      const ssize_t n =
          ::send(dir.to, dir.out.data() + dir.out_sent, dir.out.size() - dir.out_sent, MSG_NOSIGNAL);
      if (n < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK) break;
        if (errno == EINTR) continue;
        fail(&dir == &link.up ? "send ao servidor" : "send ao cliente");
      }
      dir.out_sent += static_cast<std::size_t>(n);
      dir.buffered -= static_cast<std::size_t>(n);
      if (&dir == &link.down) link.answered = link.heard = true;
    }
    if (dir.out_sent == dir.out.size()) {
      dir.out.clear();
      dir.out_sent = 0;
      if (dir.end_due && !dir.shut) {
        if (::shutdown(dir.to, SHUT_WR) < 0 && errno != ENOTCONN) fail("shutdown");
        dir.shut = true;
      }
    } else if (dir.out_sent > (1 << 20)) {
      dir.out.erase(0, dir.out_sent);
      dir.out_sent = 0;
    }
    if (&dir == &link.up && !link.server_connected) check_connected(link);
  }

  // The first writability of the server side: the connection to the target
  // is made, or it failed.
  static void check_connected(Link& link) {
    int error = 0;
    socklen_t len = sizeof error;
    if (::getsockopt(link.server.get(), SOL_SOCKET, SO_ERROR, &error, &len) < 0) fail("getsockopt");
    if (error != 0) {
      errno = error;
      fail("connect ao destino");
    }
    link.server_connected = true;
  }

  static bool finished(const Link& link) { return link.up.shut && link.down.shut; }

  // The epoll interest of both sides: readable while that side's direction
  // has room and no end of stream, writable while bytes wait for it.
  void watch(Link& link) {
    const auto mask = [](const Direction& reading, const Direction& writing) {
      std::uint32_t m = 0;
      if (!reading.read_end && reading.buffered < kMaxBuffered) m |= EPOLLIN;
      if (writing.out_sent < writing.out.size()) m |= EPOLLOUT;
      return m;
    };
    std::uint32_t client = mask(link.up, link.down);
    std::uint32_t server = mask(link.down, link.up);
    if (!link.server_connected) server |= EPOLLOUT;
    modify(link.client.get(), link.client_mask, client, tag(link.id, false));
    modify(link.server.get(), link.server_mask, server, tag(link.id, true));
  }

  // A side with nothing to read and nothing to write leaves epoll: a hung-up
  // socket would otherwise report EPOLLHUP on every wait.
  void modify(int fd, std::uint32_t& current, std::uint32_t wanted, std::uint64_t data) {
    if (current == wanted) return;
    epoll_event ev{};
    ev.events = wanted;
    ev.data.u64 = data;
    const int op = wanted == 0 ? EPOLL_CTL_DEL : current == 0 ? EPOLL_CTL_ADD : EPOLL_CTL_MOD;
    if (::epoll_ctl(epoll_.get(), op, fd, &ev) < 0) fail("epoll_ctl");
    current = wanted;
  }

  void close_link(std::uint64_t id) {
    const auto it = links_.find(id);
    if (it == links_.end()) return;
    const Link& link = *it->second;
    const double seconds = std::chrono::duration<double>(Clock::now() - link.opened).count();
    const std::uint64_t trips = (options_.rtt > Clock::duration::zero() ? 1 : 0) + link.waits;
    std::cerr << "closed conn=" << id << " seconds=" << seconds << " up=" << link.up.bytes
              << " down=" << link.down.bytes << " round_trips=" << trips << std::endl;
    links_.erase(it);  // closing the descriptors removes them from epoll
  }

  Options options_;
  Clock::duration one_way_;
  std::string target_;
  int target_family_ = AF_INET;
  Fd listener_;
  Fd signals_;
  Fd timer_;
  Fd epoll_;
  Clock::time_point armed_{};
  std::uint16_t bound_port_ = 0;
  std::map<std::uint64_t, std::unique_ptr<Link>> links_;
  std::priority_queue<Timer, std::vector<Timer>, std::greater<>> timers_;
  std::uint64_t next_id_ = 1;
  bool stopping_ = false;
};

int usage() {
  std::cerr << "uso: cobrix_delay_relay --to HOST:PORTA --rtt-ms MS [--listen ENDEREÇO] [--port PORTA]\n"
               "  Escuta em ENDEREÇO (padrão 127.0.0.1), na PORTA dada ou numa livre, e repassa cada\n"
               "  conexão a HOST:PORTA retendo cada trecho de bytes MS/2 ms em cada sentido.\n"
               "  Imprime PORT=<porta> quando pronto; SIGTERM encerra.\n";
  return 2;
}

template <class T>
bool parse_number(std::string_view text, T& value) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size();
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  bool have_rtt = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (i + 1 >= argc) return usage();
    const std::string_view value = argv[++i];
    if (arg == "--to") {
      const auto colon = value.rfind(':');
      if (colon == std::string_view::npos || colon == 0 || colon + 1 == value.size()) return usage();
      options.to_host = value.substr(0, colon);
      options.to_port = value.substr(colon + 1);
    } else if (arg == "--rtt-ms") {
      double ms = 0;
      if (!parse_number(value, ms) || ms < 0) return usage();
      options.rtt = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double, std::milli>(ms));
      have_rtt = true;
    } else if (arg == "--listen") {
      options.listen = value;
    } else if (arg == "--port") {
      if (!parse_number(value, options.port)) return usage();
    } else {
      return usage();
    }
  }
  if (options.to_host.empty() || !have_rtt) return usage();
  try {
    Relay relay(std::move(options));
    std::cout << "PORT=" << relay.port() << std::endl;
    relay.run();
  } catch (const std::exception& e) {
    std::cerr << "cobrix_delay_relay: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
