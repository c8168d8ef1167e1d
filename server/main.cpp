// quorvod-server: serves the catalogue to the room terminals (and, with
// --console, the front-desk console to the desk's browser) until SIGINT or
// SIGTERM. With --add-staff it stores a console staff account and exits.

#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <exception>
#include <iostream>
#include <memory>
#include <thread>

#include "server/RequestLog.h"
#include "server/Server.h"
#include "server/console/Console.h"
#include "server/console/StaffTool.h"

namespace {

using namespace quor::server;

std::string HostName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "localhost";
  return name;
}

std::unique_ptr<console::Console> StartConsole(const ServerOptions& options, RequestLog& log,
                                               std::uint16_t terminalPort) {
  console::ConsoleOptions settings;
  settings.address = options.consoleAddress;
  settings.port = options.consolePort;
  settings.sessionLifetime = std::chrono::minutes(options.consoleSessionMinutes);
  settings.sessionIdle =
      std::min<std::chrono::seconds>(settings.sessionLifetime, settings.sessionIdle);
  settings.serverName = HostName() + ":" + std::to_string(terminalPort);
  settings.mariadb = options.mariadb.has_value();
  auto desk = std::make_unique<console::Console>(settings, DatabaseOpener(options), log);
  desk->Start();
  return desk;
}

}  // namespace

int main(int argc, char** argv) {
  bool help = false;
  ServerOptions options;
  try {
    options = ParseServerOptions(argc - 1, argv + 1, help);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "quorvod-server: %s\n%s", e.what(), ServerUsage().c_str());
    return 2;
  }
  if (help) {
    std::fputs(ServerUsage().c_str(), stdout);
    return 0;
  }
  if (!options.addStaff.empty()) {
    try {
      return console::AddStaff(options.addStaff, DatabaseOpener(options)(),
                               options.mariadb.has_value(), std::cin, isatty(STDIN_FILENO) != 0,
                               stdout, stderr);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "quorvod-server: %s\n", e.what());
      return 1;
    }
  }

  TuneAllocator();

  // Signals are taken by one thread with sigwait, which then stops the
  // server the ordinary way; every other thread has them blocked.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  try {
    auto log = RequestLog::Open(options.logPath);
    // Declared before the server, so ended after it: a session still running
    // may tell the console what it does.
    std::unique_ptr<console::Console> desk;
    Server server(options, *log);
    server.Start();
    if (!options.consoleAddress.empty()) {
      desk = StartConsole(options, *log, server.Port());
      server.SetObserver(desk.get());
    }
    std::printf("quorvod-server listening on %s:%u (%s)\n",
                options.bindAddress.empty() ? "0.0.0.0" : options.bindAddress.c_str(),
                static_cast<unsigned>(server.Port()), server.DatabaseText().c_str());
    if (desk) {
      std::printf("front-desk console on http://%s:%u/\n", options.consoleAddress.c_str(),
                  static_cast<unsigned>(desk->Port()));
      if (desk->StaffAccounts() == 0) {
        const char* hint =
            "WARNING: no staff account yet: nobody can log in to the console; add one with "
            "quorvod-server --add-staff NAME";
        std::printf("%s\n", hint);
        log->Notice(hint);
      }
    }
    std::fflush(stdout);
    log->Notice("listening on port " + std::to_string(server.Port()) + ", " +
                server.DatabaseText());

    std::thread waiter([&server, &signals, &log] {
      int received = 0;
      sigwait(&signals, &received);
      log->Notice(received == SIGINT ? "SIGINT: stopping" : "SIGTERM: stopping");
      server.Stop();
    });
    server.Serve();  // returns once the waiter has stopped it and every session has ended
    waiter.join();
    if (desk) desk->Stop();
    log->Notice("stopped");
  } catch (const std::exception& e) {
    std::fprintf(stderr, "quorvod-server: %s\n", e.what());
    return 1;
  }
  return 0;
}
