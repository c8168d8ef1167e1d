#include "server/console/StaffTool.h"

#include <termios.h>
#include <unistd.h>

#include "server/console/Desk.h"
#include "server/console/DeskStore.h"
#include "server/console/StaffAuth.h"

namespace quor::server::console {
namespace {

// Echo off on the terminal while a password is typed; restored on leaving.
class NoEcho {
 public:
  NoEcho() {
    if (tcgetattr(STDIN_FILENO, &saved_) != 0) return;
    termios quiet = saved_;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    active_ = tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) == 0;
  }
  ~NoEcho() {
    if (active_) tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved_);
  }
  NoEcho(const NoEcho&) = delete;
  NoEcho& operator=(const NoEcho&) = delete;

 private:
  termios saved_{};
  bool active_ = false;
};

bool ReadLine(std::istream& in, std::string& line) {
  if (!std::getline(in, line)) return false;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return true;
}

}  // namespace

int AddStaff(const std::string& name, std::unique_ptr<SqlBackend> database, bool mariadb,
             std::istream& in, bool interactive, std::FILE* out, std::FILE* err) {
  const std::string nameProblem = StaffNameProblem(name);
  if (!nameProblem.empty()) {
    std::fprintf(err, "quorvod-server: %s\n", nameProblem.c_str());
    return 1;
  }
  std::string password;
  std::string again;
  bool gotAgain = false;
  if (interactive) {
    const NoEcho quiet;
    std::fprintf(out, "Password for %s: ", name.c_str());
    std::fflush(out);
    const bool got = ReadLine(in, password);
    std::fprintf(out, "\nThe same again: ");
    std::fflush(out);
    gotAgain = got && ReadLine(in, again);
    std::fprintf(out, "\n");
    if (!gotAgain) {
      std::fprintf(err, "quorvod-server: no password given\n");
      return 1;
    }
  } else {
    if (!ReadLine(in, password)) {
      std::fprintf(err, "quorvod-server: no password given on standard input\n");
      return 1;
    }
    gotAgain = ReadLine(in, again);
  }
  if (gotAgain && again != password) {
    std::fprintf(err, "quorvod-server: the two passwords differ; nothing was changed\n");
    return 1;
  }
  const std::string problem = PasswordProblem(password);
  if (!problem.empty()) {
    std::fprintf(err, "quorvod-server: %s\n", problem.c_str());
    return 1;
  }
  try {
    DeskStore store(std::move(database), mariadb);
    store.EnsureTables();
    const bool added = store.PutStaff(name, HashPassword(password), NowMs());
    std::fprintf(out, added ? "Staff account %s added\n" : "Staff account %s: password changed\n",
                 name.c_str());
  } catch (const std::exception& e) {
    std::fprintf(err, "quorvod-server: cannot store the staff account: %s\n", e.what());
    return 1;
  }
  return 0;
}

}  // namespace quor::server::console
