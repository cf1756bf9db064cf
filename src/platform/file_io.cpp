#include "platform/file_io.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <new>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
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
// uses at the same time, calls from other threads of this process included.
std::string temporary_name(const char *path) {
  static std::atomic<unsigned> counter{0};
#if defined(_WIN32)
  const unsigned long pid = GetCurrentProcessId();
#else
  const unsigned long pid = static_cast<unsigned long>(getpid());
#endif
  return std::string(path) + ".tmp-" + std::to_string(pid) + "-" + std::to_string(++counter);
}

#if defined(_WIN32)
// The errno value that describes a Windows error code best, so that messages
// made with strerror read the same on every platform.
int errno_from_windows(DWORD code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return EACCES;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    case ERROR_WRITE_PROTECT:
      return EROFS;
    case ERROR_NOT_SAME_DEVICE:
      return EXDEV;
    case ERROR_FILENAME_EXCED_RANGE:
      return ENAMETOOLONG;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return ENOMEM;
    default:
      return EIO;
  }
}
#endif

// Returns a new file opened for writing, failing when the name exists. It
// gets the permissions an ordinary fopen would have given.
std::FILE *open_new_file(const std::string &name) {
#if defined(_WIN32)
  // Not fopen's "x" mode: a C11 addition that msvcrt, the runtime this
  // library links, does not document.
  const int fd = _open(name.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                       _S_IREAD | _S_IWRITE);
  if (fd < 0) return nullptr;
  std::FILE *f = _fdopen(fd, "wb");
  if (f == nullptr) {
    const int saved = errno;
    _close(fd);
    _unlink(name.c_str());
    errno = saved;
  }
  return f;
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

// Moves the finished file at from onto the name to, replacing what is there
// in one step; on failure errno says why.
bool rename_over(const std::string &from, const char *to) {
#if defined(_WIN32)
  if (MoveFileExA(from.c_str(), to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0) {
    return true;
  }
  errno = errno_from_windows(GetLastError());
  return false;
#else
  return std::rename(from.c_str(), to) == 0;
#endif
}

}  // namespace

namespace {

// Reads the whole file at path into a block of size + 1 bytes obtained from
// allocate(n), which returns an owner of the block or an empty one when
// memory runs out. The byte after the contents is set to NUL. Both readers
// below share this, differing only in where the block comes from.
template <typename Result, typename Allocate>
Result read_file_into(const char *path, Allocate allocate) {
  Result result;
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
  result.bytes = allocate(static_cast<size_t>(size) + 1);
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
  result.bytes.get()[static_cast<size_t>(size)] = 0;
  result.size = size;
  return result;
}

}  // namespace

ReadResult read_whole_file(const char *path) {
  return read_file_into<ReadResult>(path, [](size_t n) {
    return std::unique_ptr<uint8_t[]>(new (std::nothrow) uint8_t[n]);
  });
}

MallocReadResult read_whole_file_malloc(const char *path) {
  return read_file_into<MallocReadResult>(path, [](size_t n) {
    return std::unique_ptr<uint8_t, FreeBlock>(static_cast<uint8_t *>(std::malloc(n)));
  });
}

namespace {

// Where the new file must go: an existing symbolic link is followed, so that
// the file it names is replaced and the link stays.
std::string replacement_target(const char *path) {
#if !defined(_WIN32)
  struct stat info;
  if (lstat(path, &info) == 0 && S_ISLNK(info.st_mode)) {
    char *resolved = realpath(path, nullptr);
    if (resolved != nullptr) {
      std::string target(resolved);
      std::free(resolved);
      return target;
    }
  }
#endif
  return path;
}

// Returns true when path names something that exists and is not a regular
// file (a device, a pipe): it is written in place, as renaming a new file
// over it would replace the device instead of writing to it.
bool is_special_file(const char *path) {
#if defined(_WIN32)
  // NUL, CON, COM1 and named pipes open as handles that are not disk files.
  const HANDLE handle = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  const DWORD type = GetFileType(handle);
  CloseHandle(handle);
  return type != FILE_TYPE_DISK && type != FILE_TYPE_UNKNOWN;
#else
  struct stat info;
  return stat(path, &info) == 0 && !S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode);
#endif
}

}  // namespace

OutputFile::~OutputFile() {
  if (file != nullptr) std::fclose(file);
  if (!temp.empty()) std::remove(temp.c_str());
}

WriteResult output_open(OutputFile &out, const char *path) {
  WriteResult result;
  if (is_special_file(path)) {
    out.file = std::fopen(path, "wb");
  } else {
    // Both names are kept before the file exists, so that nothing which
    // fails after it is made can lose track of it.
    out.target = replacement_target(path);
    out.temp = temporary_name(out.target.c_str());
    out.file = open_new_file(out.temp);
    if (out.file == nullptr) {
      const int saved = errno;
      out.temp.clear();
      errno = saved;
    }
  }
  if (out.file == nullptr) {
    result.status = WriteStatus::cannot_open;
    result.error_number = errno;
  }
  return result;
}

bool output_write(OutputFile &out, std::span<const uint8_t> bytes) {
  if (out.write_failed || out.file == nullptr) return false;
  if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), out.file) != bytes.size())
    out.write_failed = true;
  return !out.write_failed;
}

WriteResult output_commit(OutputFile &out) {
  WriteResult result;
  if (out.file == nullptr) {
    result.status = WriteStatus::write_failed;
    return result;
  }
  const bool flushed = std::fflush(out.file) == 0;
  const bool closed = std::fclose(out.file) == 0;
  out.file = nullptr;
  if (out.write_failed || !flushed || !closed) {
    result.status = WriteStatus::write_failed;
    return result;  // the destructor removes the temporary file
  }
  if (out.temp.empty()) return result;  // written in place
  if (!rename_over(out.temp, out.target.c_str())) {
    result.status = WriteStatus::cannot_open;
    result.error_number = errno;
    return result;
  }
  out.temp.clear();
  return result;
}

WriteResult replace_file(const char *path, std::span<const uint8_t> bytes) {
  OutputFile out;
  const WriteResult opened = output_open(out, path);
  if (opened.status != WriteStatus::ok) return opened;
  output_write(out, bytes);
  return output_commit(out);
}
