// slidomat: the program's window. It makes the windows, shows the main one
// and runs Qt's event loop until the main window is closed.
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <csignal>
#include <cstdlib>
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

const char* const kUsage =
    "Usage: slidomat [PROJECT.sdm | PICTURE... | FOLDER...] [-co]\n"
    "       slidomat --help | --version\n"
    "\n"
    "Opens the Slidomat window: a project file is loaded, pictures (JPEG, BMP)\n"
    "and the pictures of folders are added to a new slideshow, and a sound file\n"
    "given with them becomes its soundtrack. Without arguments the window opens\n"
    "on an empty slideshow.\n"
    "\n"
    "  -co, /CO    also write SDM_ORIGINAL.SPK, every text of the windows, into\n"
    "              the language folder (the start of a translation)\n"
    "  --help      print this help and exit\n"
    "  --version   print the version and exit\n"
    "\n"
    "The window needs a display (X11 or Wayland); slidomat-cli runs the same jobs\n"
    "without one.\n"
    "\n"
    "Exit status:\n"
    "  0  the window was closed\n"
    "  1  no window could be opened (no display)\n";

// Qt ends the program with abort() when no platform plugin can be loaded (no
// display to connect to). That is a usage problem, not a crash: say so and
// exit with status 1.
QtMessageHandler g_qtHandler = nullptr;

void OnQtMessageAtStart(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (type != QtFatalMsg) {
    if (g_qtHandler)
      g_qtHandler(type, context, message);
    else
      std::cerr << message.toStdString() << "\n";
    return;
  }
  std::cerr << message.toStdString() << "\n"
            << "slidomat: no window can be opened without a display; slidomat-cli runs the same jobs "
               "(see slidomat --help)\n";
  std::_Exit(1);
}

}  // namespace

int main(int argc, char** argv) {
  // Past a file-size limit a write should fail with "File too large" and be
  // reported like a full disk, not kill the program half-way through a job.
  std::signal(SIGXFSZ, SIG_IGN);
  // Both answer without a display, before Qt is started.
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--version") == 0) {
      std::cout << "slidomat " << SDM_VERSION_TEXT << "\n";
      return std::cout.flush() ? 0 : 1;
    }
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::cout << kUsage;
      return std::cout.flush() ? 0 : 1;
    }
  }
  g_qtHandler = qInstallMessageHandler(OnQtMessageAtStart);
  QApplication app(argc, argv);
  qInstallMessageHandler(g_qtHandler);
  sdm::ApplyProgramLook(app);
  sdm::TProgramEnvironment environment;
  environment.ProgramPath = sdm::ProgramFilePath();
  for (const QString& a : app.arguments().mid(1)) environment.Arguments.push_back(a.toStdString());
  sdm::TProgramWindows windows(std::move(environment));
  CloseOnSignals(windows.Main());
  windows.Main().show();
  return app.exec();
}
