#include "jobs.h"

#include <algorithm>
#include <atomic>
#include <new>
#include <system_error>
#include <thread>

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
  return r;
}

std::vector<FileResult> stamp_files(const Options &o, long jobs) {
  const size_t count = o.inputs.size();
  std::vector<FileResult> results(count);
  std::atomic<size_t> next{0};
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
  return results;
}

}  // namespace cli
