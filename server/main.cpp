// quorvod-server: serves the catalogue to the room terminals until SIGINT or
// SIGTERM.

#include <signal.h>

#include <cstdio>
#include <exception>
#include <thread>

#include "server/RequestLog.h"
#include "server/Server.h"

int main(int argc, char** argv) {
  using namespace quor::server;
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
    Server server(options, *log);
    server.Start();
    std::printf("quorvod-server listening on %s:%u (%s)\n",
                options.bindAddress.empty() ? "0.0.0.0" : options.bindAddress.c_str(),
                static_cast<unsigned>(server.Port()), server.DatabaseText().c_str());
    std::fflush(stdout);
    log->Notice("listening on port " + std::to_string(server.Port()) + ", " +
                server.DatabaseText());

    std::thread waiter([&server, &signals, &log] {
      int received = 0;
      sigwait(&signals, &received);
      log->Notice(received == SIGINT ? "SIGINT: stopping" : "SIGTERM: stopping");
      server.Stop();
    });
    server.Serve();  // returns once the waiter has stopped it
    waiter.join();
    log->Notice("stopped");
  } catch (const std::exception& e) {
    std::fprintf(stderr, "quorvod-server: %s\n", e.what());
    return 1;
  }
  return 0;
}
