#include "jobs.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include "progress.h"

namespace cli {

folimark_options stamp_record(const Options &o) {
  folimark_options r;
  folimark_options_init(&r, sizeof r);
  switch (o.command) {
    case Command::image:
      r.kind = FOLIMARK_KIND_PICTURE;
      r.picture_path = o.text.c_str();
      break;
    case Command::datetime:
      r.kind = FOLIMARK_KIND_DATETIME;
      r.text = o.text_given ? o.text.c_str() : nullptr;
      break;
    default:
      r.kind = FOLIMARK_KIND_TEXT;
      r.text = o.text.c_str();
      break;
  }
  r.pages = o.pages.empty() ? nullptr : o.pages.c_str();
  r.x = o.x;
  r.y = o.y;
  r.font_size = o.font_size;
  r.opacity = o.opacity;
  r.rotation = o.rotation;
  r.scale = o.scale;
  r.width = o.width;
  r.height = o.height;
  r.red = o.red;
  r.green = o.green;
  r.blue = o.blue;
  r.anchor = o.anchor;
  r.align = o.align;
  r.layer = o.layer;
  r.space = o.space;
  r.font_path = o.font_path.empty() ? nullptr : o.font_path.c_str();
  r.font_index = o.font_index;
  r.password = o.password.empty() ? nullptr : o.password.c_str();
  return r;
}

namespace {

// The progress line on standard error, shared by the threads.
struct Progress {
  bool on = false;
  std::mutex lock;
  size_t done = 0;
  size_t shown = 0;  // the length of the line now on the terminal

  void file_done(size_t total, const std::string &name) {
    if (!on) return;
    const std::lock_guard<std::mutex> hold(lock);
    const std::string line = progress_line(++done, total, name, 78);
    std::fprintf(stderr, "\r%s%*s", line.c_str(),
                 static_cast<int>(shown > line.size() ? shown - line.size() : 0), "");
    std::fflush(stderr);
    shown = line.size();
  }
  void clear() {
    if (!on || shown == 0) return;
    std::fprintf(stderr, "\r%*s\r", static_cast<int>(shown), "");
    std::fflush(stderr);
  }
};

}  // namespace

std::vector<FileResult> stamp_files(const Options &o, long jobs, bool progress) {
  const size_t count = o.inputs.size();
  std::vector<FileResult> results(count);
  std::atomic<size_t> next{0};
  Progress shown;
  shown.on = progress;
  // Each thread takes the next file not yet taken; the library keeps each
  // thread's error apart, and no two files share an output.
  const auto work = [&] {
    for (size_t i; (i = next.fetch_add(1)) < count;) {
      FileResult &result = results[i];
      try {
        folimark_options r = stamp_record(o);
        r.input_path = o.inputs[i].c_str();
        r.output_path = o.outputs[i].c_str();
        result.code = folimark_stamp(&r, nullptr, nullptr);
        if (result.code != FOLIMARK_OK) result.message = folimark_error_message();
      } catch (const std::bad_alloc &) {
        result.code = FOLIMARK_ERROR_MEMORY;
        result.message = o.inputs[i] + ": out of memory";
      }
      shown.file_done(count, o.inputs[i]);
    }
  };
  const size_t threads = std::min(count, static_cast<size_t>(std::max(jobs, 1L)));
  std::vector<std::thread> pool;
  pool.reserve(threads);
  for (size_t k = 1; k < threads; ++k) {
    try {
      pool.emplace_back(work);
    } catch (const std::system_error &) {
      break;  // fewer threads: the files still get stamped
    }
  }
  work();
  for (std::thread &t : pool) t.join();
  shown.clear();
  return results;
}

}  // namespace cli
