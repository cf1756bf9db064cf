// The few file operations the engine needs from the platform: reading a
// whole file, and writing a new file that replaces the one at its path only
// once its contents are complete.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <span>
#include <string>

// How the bytes of a path name a file. On Windows the seven classic exports
// take paths in the process's ANSI code page, the extended interface takes
// UTF-8 and opens files through the wide-character functions; elsewhere a
// path is bytes either way. The exports set the coding for the calling
// thread for the length of a call with a PathCodingScope; every function
// here that takes a path honours it.
enum class PathCoding { native, utf8 };
struct PathCodingScope {
  PathCoding saved;
  explicit PathCodingScope(PathCoding coding);
  ~PathCodingScope();
  PathCodingScope(const PathCodingScope &) = delete;
  PathCodingScope &operator=(const PathCodingScope &) = delete;
};

// Opens the file at path for reading in binary mode, or returns NULL with
// errno set.
std::FILE *open_for_reading(const char *path);

enum class ReadStatus { ok, cannot_open, empty, too_large, out_of_memory, read_failed };

struct ReadResult {
  ReadStatus status = ReadStatus::ok;
  int error_number = 0;              // errno when the file could not be opened
  std::unique_ptr<uint8_t[]> bytes;  // exactly the contents
  int64_t size = 0;
};

// Largest input the engine accepts: positions inside a file are 32-bit.
inline constexpr int64_t kMaxInputSize = INT32_MAX - 1;

// Returns the whole file at path, or why it could not be read. A directory
// cannot be opened (EISDIR).
ReadResult read_whole_file(const char *path);

// Releases a block that came from malloc.
struct FreeBlock {
  void operator()(void *p) const noexcept { std::free(p); }
};

// The same as ReadResult, with the bytes in a block from malloc, so that the
// owner can hand it on to C callers who release it with free.
struct MallocReadResult {
  ReadStatus status = ReadStatus::ok;
  int error_number = 0;
  std::unique_ptr<uint8_t, FreeBlock> bytes;  // exactly the contents
  int64_t size = 0;
};

// Returns the whole file at path in a malloc'ed block, or why it could not be
// read; the same checks and statuses as read_whole_file.
MallocReadResult read_whole_file_malloc(const char *path);

enum class WriteStatus { ok, cannot_open, write_failed };

struct WriteResult {
  WriteStatus status = WriteStatus::ok;
  int error_number = 0;
};

// A file being written: a temporary file beside the output path, which
// takes the path's place only on commit. One destroyed uncommitted removes
// its temporary file, so a failure never changes what is at the path (which
// may be the input). A path that names a device or a pipe is written in
// place, as renaming a file over it would replace the device.
// Opened with output_open_memory instead, it collects the bytes in a block
// from malloc that output_take_memory hands on.
struct OutputFile {
  std::FILE *file = nullptr;
  bool to_memory = false;
  uint8_t *memory = nullptr;  // the bytes collected, when to_memory
  size_t memory_size = 0, memory_capacity = 0;
  std::string temp;    // the temporary file; empty when writing in place
  std::string target;  // the name the temporary file takes on commit
  bool write_failed = false;

  OutputFile() = default;
  OutputFile(const OutputFile &) = delete;
  OutputFile &operator=(const OutputFile &) = delete;
  ~OutputFile();
};

// Returns ok with out open for writing the file at path, or why it cannot
// be made (errno in error_number).
WriteResult output_open(OutputFile &out, const char *path);

// Prepares out to collect what is written in memory.
void output_open_memory(OutputFile &out);

// Hands the committed bytes collected in memory to the caller, who releases
// them with free; an empty output gives a block of one byte, so that the
// pointer is never NULL.
void output_take_memory(OutputFile &out, uint8_t **data, size_t *size);

// Returns false when these bytes or earlier ones could not be written.
bool output_write(OutputFile &out, std::span<const uint8_t> bytes);

// Returns ok once every byte written is flushed, the file closed and moved
// onto its path; otherwise the temporary file is gone and the path as it was.
WriteResult output_commit(OutputFile &out);

// Writes bytes to a temporary file beside path and renames it over path
// only when every byte is on disk, so a failure never destroys an existing
// file at path (which may be the input). On failure nothing is left behind.
WriteResult replace_file(const char *path, std::span<const uint8_t> bytes);
