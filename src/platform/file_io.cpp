#include "platform/file_io.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

thread_local PathCoding t_path_coding = PathCoding::native;

#if defined(_WIN32)
// The path as UTF-16 when the calling thread's paths are UTF-8; empty for a
// path that is not valid UTF-8 (which then names no file).
std::wstring wide_path(const char *path) {
  const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path, -1, nullptr, 0);
  if (n <= 0) return {};
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path, -1, wide.data(), n);
  wide.resize(static_cast<size_t>(n - 1));
  return wide;
}

bool utf8_paths() { return t_path_coding == PathCoding::utf8; }
#endif

// fopen, through the wide-character function for UTF-8 paths on Windows.
std::FILE *open_path(const char *path, const char *mode) {
#if defined(_WIN32)
  if (utf8_paths()) {
    const std::wstring wide = wide_path(path);
    if (wide.empty()) {
      errno = ENOENT;
      return nullptr;
    }
    std::wstring wide_mode(mode, mode + std::strlen(mode));
    return _wfopen(wide.c_str(), wide_mode.c_str());
  }
#endif
  return std::fopen(path, mode);
}

// remove, the same way.
void remove_path(const std::string &path) {
#if defined(_WIN32)
  if (utf8_paths()) {
    const std::wstring wide = wide_path(path.c_str());
    if (!wide.empty()) _wremove(wide.c_str());
    return;
  }
#endif
  std::remove(path.c_str());
}

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
  constexpr int kFlags = _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT;
  int fd = -1;
  if (utf8_paths()) {
    const std::wstring wide = wide_path(name.c_str());
    if (wide.empty()) {
      errno = ENOENT;
      return nullptr;
    }
    fd = _wopen(wide.c_str(), kFlags, _S_IREAD | _S_IWRITE);
  } else {
    fd = _open(name.c_str(), kFlags, _S_IREAD | _S_IWRITE);
  }
  if (fd < 0) return nullptr;
  std::FILE *f = _fdopen(fd, "wb");
  if (f == nullptr) {
    const int saved = errno;
    _close(fd);
    remove_path(name);
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
  constexpr DWORD kFlags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
  const bool moved = utf8_paths()
                         ? MoveFileExW(wide_path(from.c_str()).c_str(), wide_path(to).c_str(), kFlags) != 0
                         : MoveFileExA(from.c_str(), to, kFlags) != 0;
  if (moved) return true;
  errno = errno_from_windows(GetLastError());
  return false;
#else
  return std::rename(from.c_str(), to) == 0;
#endif
}

}  // namespace

namespace {

// Reads the whole file at path into a block of exactly its size obtained
// from allocate(n), which returns an owner of the block or an empty one when
// memory runs out. No byte follows the contents, so a reader that runs past
// the end is caught by the sanitizers. Both readers below share this,
// differing only in where the block comes from.
template <typename Result, typename Allocate>
Result read_file_into(const char *path, Allocate allocate) {
  Result result;
  File f(open_for_reading(path));
  if (!f) {
    result.status = ReadStatus::cannot_open;
    result.error_number = errno;
    return result;
  }
#if !defined(_WIN32)
  // A directory opens for reading here; it is not a file to read.
  struct stat info;
  if (fstat(fileno(f.get()), &info) == 0 && S_ISDIR(info.st_mode)) {
    result.status = ReadStatus::cannot_open;
    result.error_number = EISDIR;
    return result;
  }
#endif
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
  result.bytes = allocate(static_cast<size_t>(size));
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
  result.size = size;
  return result;
}

}  // namespace

PathCodingScope::PathCodingScope(PathCoding coding) : saved(t_path_coding) {
  t_path_coding = coding;
}

PathCodingScope::~PathCodingScope() { t_path_coding = saved; }

std::FILE *open_for_reading(const char *path) { return open_path(path, "rb"); }

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
  constexpr DWORD kShare = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  const HANDLE handle =
      utf8_paths() ? CreateFileW(wide_path(path).c_str(), 0, kShare, nullptr, OPEN_EXISTING, 0, nullptr)
                   : CreateFileA(path, 0, kShare, nullptr, OPEN_EXISTING, 0, nullptr);
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
  if (!temp.empty()) remove_path(temp);
  std::free(memory);
}

void output_open_memory(OutputFile &out) { out.to_memory = true; }

void output_take_memory(OutputFile &out, uint8_t **data, size_t *size) {
  if (out.memory == nullptr) out.memory = static_cast<uint8_t *>(std::malloc(1));
  if (out.memory == nullptr) throw std::bad_alloc();
  *data = out.memory;
  *size = out.memory_size;
  out.memory = nullptr;
  out.memory_size = out.memory_capacity = 0;
}

WriteResult output_open(OutputFile &out, const char *path) {
  WriteResult result;
  if (is_special_file(path)) {
    out.file = open_path(path, "wb");
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
  if (out.to_memory) {
    if (bytes.empty()) return true;
    if (bytes.size() > out.memory_capacity - out.memory_size) {
      // Doubling keeps the copying linear in the output's size.
      size_t capacity = out.memory_capacity < 65536 ? 65536 : out.memory_capacity;
      while (capacity - out.memory_size < bytes.size()) {
        if (capacity > SIZE_MAX / 2) throw std::bad_alloc();
        capacity *= 2;
      }
      void *grown = std::realloc(out.memory, capacity);
      if (grown == nullptr) throw std::bad_alloc();
      out.memory = static_cast<uint8_t *>(grown);
      out.memory_capacity = capacity;
    }
    std::memcpy(out.memory + out.memory_size, bytes.data(), bytes.size());
    out.memory_size += bytes.size();
    return true;
  }
  if (out.write_failed || out.file == nullptr) return false;
  if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), out.file) != bytes.size())
    out.write_failed = true;
  return !out.write_failed;
}

WriteResult output_commit(OutputFile &out) {
  WriteResult result;
  if (out.to_memory) return result;
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
