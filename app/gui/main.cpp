// slidomat: the program's window. It makes the windows, shows the main one
// and runs Qt's event loop until the main window is closed.
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <csignal>
#include <cstring>
#include <iostream>

#include "support/SdmVersion.h"
#include "support/U_SysUtils.h"
#include "ui/ProgramWindows.h"
#include "ui/SanitizerSuppressions.h"

namespace {

int g_signalPipe[2] = {-1, -1};

extern "C" void OnTerminateSignal(int) {
  const char byte = 1;
  [[maybe_unused]] ssize_t n = ::write(g_signalPipe[1], &byte, 1);
}

// SIGTERM (the session ending, a service manager) and SIGINT close the main
// window the way its close box does: refused while a job runs, otherwise
// with the portable settings written back and the log saved.
void CloseOnSignals(QWidget& window) {
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) != 0) return;
  auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, &window);
  QObject::connect(notifier, &QSocketNotifier::activated, &window, [&window] {
    char byte;
    [[maybe_unused]] ssize_t n = ::read(g_signalPipe[0], &byte, 1);
    window.close();
  });
  struct sigaction sa {};
  sa.sa_handler = OnTerminateSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
  // Past a file-size limit a write should fail with "File too large" and be
  // reported like a full disk, not kill the program half-way through a job.
  std::signal(SIGXFSZ, SIG_IGN);
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], "--version") == 0) {
      std::cout << "slidomat " << SDM_VERSION_TEXT << "\n";
      return 0;
    }
  QApplication app(argc, argv);
  sdm::ApplyProgramLook(app);
  sdm::TProgramEnvironment environment;
  environment.ProgramPath = sdm::ProgramFilePath();
  for (const QString& a : app.arguments().mid(1)) environment.Arguments.push_back(a.toStdString());
  sdm::TProgramWindows windows(std::move(environment));
  CloseOnSignals(windows.Main());
  windows.Main().show();
  return app.exec();
}
