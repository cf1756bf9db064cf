#include "platform/file_io.h"

#include <cerrno>
#include <cstdio>
#include <new>

#if defined(_WIN32)
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

struct FileCloser {
  void operator()(std::FILE *f) const noexcept { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

int64_t file_size(std::FILE *f) {
#if defined(_WIN32)
  if (_fseeki64(f, 0, SEEK_END) != 0) return -1;
  const int64_t size = _ftelli64(f);
  if (_fseeki64(f, 0, SEEK_SET) != 0) return -1;
#else
  if (fseeko(f, 0, SEEK_END) != 0) return -1;
  const int64_t size = ftello(f);
  if (fseeko(f, 0, SEEK_SET) != 0) return -1;
#endif
  return size;
}

// Returns a name for the temporary file beside path that no other writer
// uses at the same time.
std::string temporary_name(const char *path) {
  static unsigned counter = 0;
#if defined(_WIN32)
  const unsigned long pid = GetCurrentProcessId();
#else
  const unsigned long pid = static_cast<unsigned long>(getpid());
#endif
  return std::string(path) + ".tmp-" + std::to_string(pid) + "-" + std::to_string(++counter);
}

// Returns a new file opened for writing, failing when the name exists. It
// gets the permissions an ordinary fopen would have given.
std::FILE *open_new_file(const std::string &name) {
#if defined(_WIN32)
  return std::fopen(name.c_str(), "wbx");
#else
  const int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return nullptr;
  std::FILE *f = fdopen(fd, "wb");
  if (f == nullptr) {
    const int saved = errno;
    close(fd);
    unlink(name.c_str());
    errno = saved;
  }
  return f;
#endif
}

bool rename_over(const std::string &from, const char *to) {
#if defined(_WIN32)
  return MoveFileExA(from.c_str(), to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
#else
  return std::rename(from.c_str(), to) == 0;
#endif
}

}  // namespace

ReadResult read_whole_file(const char *path) {
  ReadResult result;
  File f(std::fopen(path, "rb"));
  if (!f) {
    result.status = ReadStatus::cannot_open;
    result.error_number = errno;
    return result;
  }
  const int64_t size = file_size(f.get());
  if (size <= 0) {
    result.status = ReadStatus::empty;
    return result;
  }
  if (size > kMaxInputSize) {
    result.status = ReadStatus::too_large;
    result.size = size;
    return result;
  }
  result.bytes.reset(new (std::nothrow) uint8_t[static_cast<size_t>(size) + 1]);
  if (!result.bytes) {
    result.status = ReadStatus::out_of_memory;
    return result;
  }
  if (std::fread(result.bytes.get(), 1, static_cast<size_t>(size), f.get()) !=
      static_cast<size_t>(size)) {
    result.bytes.reset();
    result.status = ReadStatus::read_failed;
    return result;
  }
  result.bytes[static_cast<size_t>(size)] = 0;
  result.size = size;
  return result;
}

WriteResult replace_file(const char *path, std::span<const uint8_t> bytes) {
  WriteResult result;
  const std::string temp = temporary_name(path);
  std::FILE *raw = open_new_file(temp);
  if (raw == nullptr) {
    result.status = WriteStatus::cannot_open;
    result.error_number = errno;
    return result;
  }
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), raw) == bytes.size();
  const bool flushed = std::fflush(raw) == 0;
  const bool closed = std::fclose(raw) == 0;
  if (!written || !flushed || !closed) {
    std::remove(temp.c_str());
    result.status = WriteStatus::write_failed;
    return result;
  }
  if (!rename_over(temp, path)) {
    result.error_number = errno;
    std::remove(temp.c_str());
    result.status = WriteStatus::cannot_open;
    return result;
  }
  return result;
}
