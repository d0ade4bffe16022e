// Serial lines over the network for tests: a real ser2net in front of the
// simulator's pseudo-terminal on loopback, free loopback ports, and a TCP
// proxy of our own that delays each direction.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace nettest {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// How long a test waits for ser2net to listen (generous: sanitizer builds
// on a busy machine).
inline constexpr auto kListenWait = 20s;

// A loopback TCP port nobody listens on at the moment.
inline int FreeLoopbackPort() {
  const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s < 0) return 0;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = 0;
  socklen_t len = sizeof a;
  int port = 0;
  if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) == 0) {
    port = ntohs(a.sin_port);
  }
  ::close(s);
  return port;
}

// Whether something listens on 127.0.0.1:port, read from the kernel's table
// (a connection would make ser2net open the line).
inline bool Listening(int port) {
  std::ifstream in("/proc/net/tcp");
  std::string line;
  char want[32];
  std::snprintf(want, sizeof want, "0100007F:%04X", static_cast<unsigned>(port));
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string slot, local, remote, state;
    fields >> slot >> local >> remote >> state;
    if (local == want && state == "0A") return true;
  }
  return false;
}

// ser2net serving one device on two loopback ports: telnet with the
// com-port control on `rfcPort`, raw TCP on `tcpPort`.
class Ser2net {
 public:
  Ser2net(std::string folder, std::string device, int rfcPort, int tcpPort)
      : folder_(std::move(folder)), device_(std::move(device)), rfcPort_(rfcPort), tcpPort_(tcpPort) {}
  ~Ser2net() { Kill(); }
  Ser2net(const Ser2net&) = delete;
  Ser2net& operator=(const Ser2net&) = delete;

  bool Start() {
    Kill();
    const std::string config = folder_ + "/ser2net.yaml";
    {
      std::ofstream out(config);
      out << "connection: &rfc2217\n"
          << "  accepter: telnet(rfc2217),tcp(nodelay),127.0.0.1," << rfcPort_ << "\n"
          << "  connector: serialdev," << device_ << ",9600n81,local\n"
          << "connection: &raw\n"
          << "  accepter: tcp(nodelay),127.0.0.1," << tcpPort_ << "\n"
          << "  connector: serialdev," << device_ << ",9600n81,local\n";
    }
    const std::string log = folder_ + "/ser2net.log";
    pid_ = ::fork();
    if (pid_ == 0) {
      // A test process that is killed takes its server with it.
      ::prctl(PR_SET_PDEATHSIG, SIGKILL);
      std::FILE* f = std::fopen(log.c_str(), "a");
      if (f != nullptr) {
        ::dup2(::fileno(f), 1);
        ::dup2(::fileno(f), 2);
      }
      ::execlp("ser2net", "ser2net", "-n", "-d", "-c", config.c_str(), "-P",
               (folder_ + "/ser2net.pid").c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    if (pid_ < 0) return false;
    const auto deadline = Clock::now() + kListenWait;
    while (Clock::now() < deadline) {
      if (Listening(rfcPort_) && Listening(tcpPort_)) return true;
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return false;
      }
      std::this_thread::sleep_for(20ms);
    }
    return false;
  }
  // Ends the server at once, as a crash or a pulled cable would.
  void Kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
  }
  std::string Rfc2217() const { return "rfc2217://127.0.0.1:" + std::to_string(rfcPort_); }
  std::string RawTcp() const { return "tcp://127.0.0.1:" + std::to_string(tcpPort_); }

 private:
  std::string folder_;
  std::string device_;
  int rfcPort_;
  int tcpPort_;
  pid_t pid_ = -1;
};

// A TCP proxy on loopback that holds every chunk `delay` before passing it
// on, in each direction: a network with a round trip of twice that.
class DelayProxy {
 public:
  DelayProxy(int upstreamPort, std::chrono::milliseconds delay) : upstream_(upstreamPort), delay_(delay) {}
  ~DelayProxy() { Stop(); }
  DelayProxy(const DelayProxy&) = delete;
  DelayProxy& operator=(const DelayProxy&) = delete;

  bool Start() {
    listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listen_ < 0) return false;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (::bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(listen_, 4) != 0 ||
        ::getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
      return false;
    }
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] { Run(); });
    return true;
  }
  void Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (listen_ >= 0) ::close(listen_);
    listen_ = -1;
  }
  int Port() const { return port_; }

 private:
  struct Chunk {
    Clock::time_point due;
    std::vector<char> bytes;
  };
  static int Connect(int port) {
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    if (s >= 0 && ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
      ::close(s);
      return -1;
    }
    return s;
  }
  // One client at a time; each runs until either side closes or Stop().
  void Run() {
    while (!stop_) {
      pollfd p{listen_, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      const int client = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
      if (client < 0) continue;
      // The connection to the server is made after the delay of a round
      // trip, as a connection over the slow network would be.
      std::this_thread::sleep_for(delay_ * 2);
      const int server = Connect(upstream_);
      if (server < 0) {
        ::close(client);
        continue;
      }
      const int one = 1;
      ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      ::setsockopt(server, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      Serve(client, server);
      ::close(client);
      ::close(server);
    }
  }
  void Serve(int client, int server) {
    std::deque<Chunk> toServer, toClient;
    bool open = true;
    while (!stop_ && open) {
      int wait = 50;
      const auto now = Clock::now();
      for (auto* q : {&toServer, &toClient}) {
        if (!q->empty()) {
          const auto left = std::chrono::ceil<std::chrono::milliseconds>(q->front().due - now).count();
          wait = std::min(wait, static_cast<int>(std::max<long long>(left, 0)));
        }
      }
      pollfd p[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
      ::poll(p, 2, wait);
      const int from[2] = {client, server};
      std::deque<Chunk>* into[2] = {&toServer, &toClient};
      for (int k = 0; k < 2; ++k) {
        if ((p[k].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
        char buf[4096];
        const ssize_t n = ::read(from[k], buf, sizeof buf);
        if (n <= 0) {
          open = false;
          break;
        }
        into[k]->push_back({Clock::now() + delay_, std::vector<char>(buf, buf + n)});
      }
      const int to[2] = {server, client};
      for (int k = 0; k < 2; ++k) {
        while (!into[k]->empty() && into[k]->front().due <= Clock::now()) {
          const auto& b = into[k]->front().bytes;
          std::size_t done = 0;
          while (done < b.size()) {
            const ssize_t w = ::send(to[k], b.data() + done, b.size() - done, MSG_NOSIGNAL);
            if (w <= 0) {
              open = false;
              break;
            }
            done += static_cast<std::size_t>(w);
          }
          into[k]->pop_front();
        }
      }
    }
  }

  int upstream_;
  std::chrono::milliseconds delay_;
  int listen_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace nettest
