// A room terminal without its window, for the browser tests: the real data
// module, datasets, transport and engine, driven line by line from standard
// input so that a test script can press the room request button and start
// songs. Every command is answered with one line, "ok" or "error: ...".
//
//   make-catalogue FILE     (as the only argument) writes the test catalogue
//   connect PORT [FROM]     the data module connects to 127.0.0.1:PORT and opens;
//                           with FROM (a loopback address such as 127.0.0.12)
//                           through a relay whose connection to the server
//                           comes from FROM, so that the server sees a room PC
//                           of that address
//   request NAME            a room request with ClientName NAME (UTF-8)
//   play SINGID             the player's path lookup of that song
//   quit

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <iostream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "DataTestSupport.h"
#include "data/CatalogueStatements.h"

namespace {

int Socket() {
  return socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
}

sockaddr_in Address(const std::string& dotted, int port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<std::uint16_t>(port));
  inet_pton(AF_INET, dotted.c_str(), &a.sin_addr);
  return a;
}

// Copies bytes both ways between two sockets until either side closes.
void Pump(int a, int b) {
  std::vector<char> buffer(1 << 16);
  pollfd fds[2] = {{a, POLLIN, 0}, {b, POLLIN, 0}};
  while (poll(fds, 2, -1) > 0) {
    for (int i = 0; i < 2; ++i) {
      if (fds[i].revents == 0) continue;
      const ssize_t n = read(fds[i].fd, buffer.data(), buffer.size());
      if (n <= 0) return;
      for (ssize_t sent = 0; sent < n;) {
        const ssize_t w =
            write(fds[1 - i].fd, buffer.data() + sent, static_cast<std::size_t>(n - sent));
        if (w <= 0) return;
        sent += w;
      }
    }
  }
}

// A loopback port whose connections reach the server from another address.
class Relay {
 public:
  Relay(const std::string& from, int serverPort) {
    listener_ = Socket();
    sockaddr_in any = Address("127.0.0.1", 0);
    socklen_t size = sizeof any;
    if (bind(listener_, reinterpret_cast<sockaddr*>(&any), size) != 0 ||
        listen(listener_, 4) != 0 ||
        getsockname(listener_, reinterpret_cast<sockaddr*>(&any), &size) != 0) {
      throw std::runtime_error("relay: cannot listen");
    }
    port_ = ntohs(any.sin_port);
    std::thread([listener = listener_, from, serverPort] {
      for (;;) {
        const int terminal = accept(listener, nullptr, nullptr);
        if (terminal < 0) return;
        const int server = Socket();
        sockaddr_in source = Address(from, 0);
        sockaddr_in target = Address("127.0.0.1", serverPort);
        if (bind(server, reinterpret_cast<sockaddr*>(&source), sizeof source) != 0 ||
            connect(server, reinterpret_cast<sockaddr*>(&target), sizeof target) != 0) {
          close(terminal);
          close(server);
          continue;
        }
        std::thread([terminal, server] {
          Pump(terminal, server);
          close(terminal);
          close(server);
        }).detach();
      }
    }).detach();
  }
  int Port() const { return port_; }

 private:
  int listener_ = -1;
  int port_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  using namespace quor;
  if (argc == 3 && std::string(argv[1]) == "make-catalogue") {
    data::test::BuildCatalogue(argv[2]);
    return 0;
  }
  data::test::UseBuiltEngine();
  std::unique_ptr<Relay> relay;
  std::unique_ptr<data::test::TerminalFixture> terminal;
  std::string line;
  while (std::getline(std::cin, line)) {
    const auto blank = line.find(' ');
    const std::string command = line.substr(0, blank);
    const std::string argument = blank == std::string::npos ? "" : line.substr(blank + 1);
    try {
      if (command == "quit") break;
      if (command == "connect") {
        const auto space = argument.find(' ');
        int port = std::stoi(argument.substr(0, space));
        if (space != std::string::npos) {
          relay = std::make_unique<Relay>(argument.substr(space + 1), port);
          port = relay->Port();
        }
        terminal = std::make_unique<data::test::TerminalFixture>(static_cast<std::uint16_t>(port));
        if (!data::ConnectAndOpen(*terminal->dm, "127.0.0.1", nullptr)) {
          throw std::runtime_error("cannot connect");
        }
      } else if (!terminal) {
        throw std::runtime_error("not connected");
      } else if (command == "request") {
        data::SendRoomRequest(*terminal->dm->tempClientDataSet, data::test::G(argument.c_str()));
      } else if (command == "play") {
        data::RunCatalogueQuery(*terminal->dm->playClientDataSet,
                                data::MediaPathStatement(argument + " x.y"));
      } else {
        throw std::runtime_error("unknown command " + command);
      }
      std::cout << "ok" << std::endl;
    } catch (const std::exception& e) {
      std::cout << "error: " << e.what() << std::endl;
    }
  }
  return 0;
}
