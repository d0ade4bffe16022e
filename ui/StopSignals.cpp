#include "StopSignals.h"

#include <fcntl.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <QWidget>
#include <array>
#include <cerrno>
#include <csignal>

namespace zarvik::ui {

namespace {

constexpr std::array<int, 3> kStopSignals = {SIGTERM, SIGINT, SIGHUP};
int g_pipe[2] = {-1, -1};

extern "C" void WriteStopByte(int) {
  const int saved = errno;
  const char byte = 1;
  // A full pipe already wakes the loop; the byte may be dropped.
  [[maybe_unused]] const ssize_t n = ::write(g_pipe[1], &byte, 1);
  errno = saved;
}

}  // namespace

TStopSignals::TStopSignals() {
  if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  notifier_ = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, &TStopSignals::OnSignal);
  struct sigaction action {};
  action.sa_handler = WriteStopByte;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (const int s : kStopSignals) ::sigaction(s, &action, nullptr);
}

TStopSignals::~TStopSignals() {
  for (const int s : kStopSignals) std::signal(s, SIG_DFL);
  if (g_pipe[0] >= 0) {
    ::close(g_pipe[0]);
    ::close(g_pipe[1]);
    g_pipe[0] = g_pipe[1] = -1;
  }
}

void TStopSignals::OnSignal() {
  std::array<char, 16> bytes{};
  ssize_t n = 0;
  while ((n = ::read(g_pipe[0], bytes.data(), bytes.size())) > 0) received_ += static_cast<int>(n);
  if (window_ != nullptr) window_->close();
}

}  // namespace zarvik::ui
