#include "Probe.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/error.h>
#include <libavutil/log.h>
}

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

namespace quor::tools::catalogue {
namespace {

using Clock = std::chrono::steady_clock;

struct Deadline {
  Clock::time_point at;
  const std::atomic<bool>* cancel = nullptr;
};

// libavformat calls this while it blocks on I/O or reads packets: a non-zero
// answer makes the call return with AVERROR_EXIT.
int Interrupt(void* opaque) {
  const auto* d = static_cast<const Deadline*>(opaque);
  if (d->cancel != nullptr && d->cancel->load(std::memory_order_relaxed)) return 1;
  return Clock::now() > d->at ? 1 : 0;
}

std::string ErrorText(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof text);
  return text;
}

ProbeResult ProbeOne(const std::string& path, const ProbeControl& control) {
  ProbeResult result;
  Deadline deadline{Clock::now() + std::chrono::seconds(control.secondsPerFile), control.cancel};
  AVFormatContext* context = avformat_alloc_context();
  if (context == nullptr) {
    result.error = "out of memory";
    return result;
  }
  context->interrupt_callback.callback = &Interrupt;
  context->interrupt_callback.opaque = &deadline;
  // avformat_open_input frees the context itself when it fails.
  int rc = avformat_open_input(&context, path.c_str(), nullptr, nullptr);
  if (rc < 0) {
    result.error = rc == AVERROR_EXIT
                       ? "no answer within " + std::to_string(control.secondsPerFile) + " s"
                       : ErrorText(rc);
    return result;
  }
  rc = avformat_find_stream_info(context, nullptr);
  if (rc < 0) {
    result.error = rc == AVERROR_EXIT
                       ? "no answer within " + std::to_string(control.secondsPerFile) + " s"
                       : ErrorText(rc);
    avformat_close_input(&context);
    return result;
  }
  int audioTracks = 0;
  int channels = 0;
  bool video = false;
  for (unsigned i = 0; i < context->nb_streams; ++i) {
    const AVCodecParameters* p = context->streams[i]->codecpar;
    if (p->codec_type == AVMEDIA_TYPE_AUDIO) {
      if (++audioTracks == 1) channels = p->ch_layout.nb_channels;
    } else if (p->codec_type == AVMEDIA_TYPE_VIDEO) {
      video = true;
    }
  }
  if (!video && audioTracks == 0) {
    result.error = "no video or audio in the file";
  } else {
    result.ok = true;
    if (context->duration != AV_NOPTS_VALUE && context->duration > 0)
      result.durationMs = context->duration / (AV_TIME_BASE / 1000);
    result.vocal = audioTracks >= 2   ? kVocalTracks
                   : audioTracks == 0 ? kVocalNone
                   : channels >= 2    ? kVocalStereo
                                      : kVocalMono;
  }
  avformat_close_input(&context);
  return result;
}

}  // namespace

std::vector<ProbeResult> ProbeFiles(const std::vector<std::string>& paths,
                                    const ProbeControl& control) {
  static std::once_flag quiet;
  std::call_once(quiet, [] { av_log_set_level(AV_LOG_QUIET); });

  // Workers share this with the coordinating thread. A worker stuck in a read
  // that libavformat cannot interrupt (a share that stopped answering) is
  // given up: its file is reported as timed out, a new worker takes its
  // place, and the stuck thread is left to end on its own; it never touches
  // the caller's objects, only this shared state.
  struct Shared {
    std::mutex mutex;
    std::vector<std::string> paths;
    std::vector<ProbeResult> results;        // guarded by mutex
    std::size_t next = 0;                    // guarded by mutex
    std::size_t finished = 0;                // guarded by mutex
    std::vector<Clock::time_point> started;  // per worker; guarded by mutex
    std::vector<std::size_t> current;        // per worker: its file; guarded by mutex
    std::vector<bool> abandoned;             // per worker; guarded by mutex
    std::atomic<bool> cancel{false};
    ProbeControl control;
  };
  auto shared = std::make_shared<Shared>();
  shared->paths = paths;
  shared->results.resize(paths.size());
  shared->control = control;
  shared->control.cancel = &shared->cancel;
  shared->control.done = nullptr;

  auto work = [](std::shared_ptr<Shared> s, std::size_t worker) {
    std::unique_lock lock(s->mutex);
    while (!s->abandoned[worker] && s->next < s->paths.size()) {
      const std::size_t i = s->next++;
      s->current[worker] = i;
      s->started[worker] = Clock::now();
      lock.unlock();
      ProbeResult r;
      if (s->cancel.load()) {
        r.error = "interrupted";
      } else {
        r = ProbeOne(s->paths[i], s->control);
      }
      lock.lock();
      if (s->abandoned[worker]) return;  // its file was given up already
      s->results[i] = std::move(r);
      s->current[worker] = SIZE_MAX;
      ++s->finished;
    }
  };
  std::vector<std::thread> pool;
  auto startWorker = [&] {
    // called with the mutex held
    shared->started.push_back(Clock::now());
    shared->current.push_back(SIZE_MAX);
    shared->abandoned.push_back(false);
    pool.emplace_back(work, shared, pool.size());
  };
  const unsigned workers =
      std::max(1u, std::min<unsigned>(control.workers, static_cast<unsigned>(paths.size())));
  const auto giveUpAfter = std::chrono::seconds(control.secondsPerFile + 5);
  {
    std::unique_lock lock(shared->mutex);
    for (unsigned i = 0; i < workers && !paths.empty(); ++i) startWorker();
    while (shared->finished < paths.size()) {
      lock.unlock();
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      if (control.cancel != nullptr && control.cancel->load()) shared->cancel = true;
      lock.lock();
      if (control.done != nullptr) control.done->store(shared->finished);
      const auto now = Clock::now();
      for (std::size_t w = 0; w < pool.size(); ++w) {
        if (shared->abandoned[w] || shared->current[w] == SIZE_MAX) continue;
        if (now - shared->started[w] < giveUpAfter) continue;
        shared->results[shared->current[w]].error =
            "no answer within " + std::to_string(control.secondsPerFile) + " s";
        shared->abandoned[w] = true;
        ++shared->finished;
        if (shared->next < paths.size()) startWorker();
      }
    }
    if (control.done != nullptr) control.done->store(shared->finished);
  }
  for (std::size_t w = 0; w < pool.size(); ++w) {
    std::unique_lock lock(shared->mutex);
    const bool stuck = shared->abandoned[w];
    lock.unlock();
    if (stuck) {
      pool[w].detach();
    } else {
      pool[w].join();
    }
  }
  std::lock_guard lock(shared->mutex);
  return shared->results;
}

}  // namespace quor::tools::catalogue
