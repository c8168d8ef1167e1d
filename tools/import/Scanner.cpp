#include "Scanner.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace quor::tools::catalogue {
namespace {

// The folders still to read, shared by the walking threads; the walk ends
// when the queue is empty and no thread is reading a folder (which could add
// more).
class FolderQueue {
 public:
  void Push(std::string rel) {
    {
      std::lock_guard lock(mutex_);
      folders_.push_back(std::move(rel));
    }
    wake_.notify_one();
  }
  // The next folder, or false when the walk is over.
  bool Pop(std::string& rel, const std::atomic<bool>* cancel) {
    std::unique_lock lock(mutex_);
    if (busy_ > 0) --busy_;  // the caller finished its previous folder
    if (folders_.empty() && busy_ == 0) wake_.notify_all();
    wake_.wait(lock, [&] { return !folders_.empty() || busy_ == 0; });
    if (folders_.empty() || (cancel != nullptr && cancel->load())) {
      folders_.clear();
      return false;
    }
    rel = std::move(folders_.front());
    folders_.pop_front();
    ++busy_;
    return true;
  }
  void Start(unsigned threads) {
    std::lock_guard lock(mutex_);
    busy_ = threads;  // each thread's first Pop counts itself out
  }

 private:
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::string> folders_;  // guarded by mutex_
  unsigned busy_ = 0;                // guarded by mutex_
};

struct Walker {
  const std::string& root;
  const ScanControl& control;
  FolderQueue& queue;
  ScanResult part;

  void ReadFolder(const std::string& rel) {
    const std::string path = rel.empty() ? root : root + "/" + rel;
    const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* dir = fd >= 0 ? fdopendir(fd) : nullptr;
    if (dir == nullptr) {
      if (fd >= 0) close(fd);
      part.unreadable.push_back((rel.empty() ? "." : rel) + ": " + std::strerror(errno));
      return;
    }
    ++part.folders;
    const std::string prefix = rel.empty() ? std::string() : rel + "/";
    while (const dirent* e = readdir(dir)) {
      const char* name = e->d_name;
      if (name[0] == '.') continue;  // ".", ".." and hidden entries
      unsigned char type = e->d_type;
      if (type == DT_DIR) {
        queue.Push(prefix + name);
        continue;
      }
      const bool wanted = HasExtension(name, control.extensions);
      if (type != DT_REG && type != DT_LNK && type != DT_UNKNOWN) continue;
      if (type == DT_REG && !wanted) {
        ++part.otherFiles;
        continue;
      }
      struct stat st {};
      if (fstatat(dirfd(dir), name, &st, 0) != 0) {
        part.unreadable.push_back(prefix + name + ": " + std::strerror(errno));
        continue;
      }
      if (S_ISDIR(st.st_mode)) {
        if (type == DT_LNK) {
          part.skippedFolderLinks.push_back(prefix + name);
        } else {
          queue.Push(prefix + name);
        }
        continue;
      }
      if (!S_ISREG(st.st_mode)) continue;
      if (!wanted) {
        ++part.otherFiles;
        continue;
      }
      part.files.push_back(FoundFile{prefix + name, static_cast<std::int64_t>(st.st_size),
                                     static_cast<std::int64_t>(st.st_mtim.tv_sec)});
      if (control.filesSeen != nullptr) control.filesSeen->fetch_add(1, std::memory_order_relaxed);
    }
    closedir(dir);
  }

  void Run() {
    std::string rel;
    while (queue.Pop(rel, control.cancel)) ReadFolder(rel);
  }
};

}  // namespace

const std::vector<std::string>& DefaultExtensions() {
  static const std::vector<std::string> extensions = {"mpg", "mpeg", "vob", "dat",  "ts",  "m2ts",
                                                      "mts", "mp4",  "m4v", "mkv",  "avi", "wmv",
                                                      "asf", "mov",  "flv", "rmvb", "rm",  "webm"};
  return extensions;
}

bool HasExtension(std::string_view name, const std::vector<std::string>& extensions) {
  const auto dot = name.rfind('.');
  if (dot == std::string_view::npos || dot == 0) return false;
  const std::string_view ext = name.substr(dot + 1);
  for (const std::string& e : extensions) {
    if (e.size() != ext.size()) continue;
    bool same = true;
    for (std::size_t i = 0; i < e.size() && same; ++i) {
      char c = ext[i];
      if (c >= 'A' && c <= 'Z') c += 'a' - 'A';
      same = c == e[i];
    }
    if (same) return true;
  }
  return false;
}

ScanResult ScanFolder(const std::string& root, const ScanControl& control) {
  struct stat st {};
  if (stat(root.c_str(), &st) != 0) throw std::runtime_error(root + ": " + std::strerror(errno));
  if (!S_ISDIR(st.st_mode)) throw std::runtime_error(root + ": not a folder");
  if (access(root.c_str(), R_OK | X_OK) != 0)
    throw std::runtime_error(root + ": " + std::strerror(errno));

  const unsigned threads = std::max(1u, control.threads);
  FolderQueue queue;
  queue.Start(threads);
  queue.Push(std::string());
  std::vector<Walker> walkers;
  walkers.reserve(threads);
  for (unsigned i = 0; i < threads; ++i) walkers.push_back(Walker{root, control, queue, {}});
  std::vector<std::thread> pool;
  for (unsigned i = 1; i < threads; ++i) pool.emplace_back([&walkers, i] { walkers[i].Run(); });
  walkers[0].Run();
  for (std::thread& t : pool) t.join();

  ScanResult out = std::move(walkers[0].part);
  for (unsigned i = 1; i < threads; ++i) {
    ScanResult& p = walkers[i].part;
    out.folders += p.folders;
    out.otherFiles += p.otherFiles;
    out.files.insert(out.files.end(), std::make_move_iterator(p.files.begin()),
                     std::make_move_iterator(p.files.end()));
    out.unreadable.insert(out.unreadable.end(), p.unreadable.begin(), p.unreadable.end());
    out.skippedFolderLinks.insert(out.skippedFolderLinks.end(), p.skippedFolderLinks.begin(),
                                  p.skippedFolderLinks.end());
  }
  std::sort(out.unreadable.begin(), out.unreadable.end());
  std::sort(out.skippedFolderLinks.begin(), out.skippedFolderLinks.end());
  return out;
}

}  // namespace quor::tools::catalogue
