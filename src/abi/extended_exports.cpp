// The extended interface: one call for every kind of stamp, its options in
// a record that only grows, paths in UTF-8, the result in a file or in
// memory, and the last error kept per thread.
#include <folimark.h>

#include <cstdlib>
#include <cstring>

#include "abi/guarded.h"
#include "abi/stamp_options.h"
#include "common/error.h"
#include "pdf/stamp_request.h"
#include "pdf/writer.h"
#include "platform/file_io.h"

#ifndef FOLIMARK_VERSION_TEXT
#error "the build defines the library's version"
#endif

namespace {

int stamp(const folimark_options *options, unsigned char **output_data, size_t *output_size) {
  if (options == nullptr) return set_error(ErrorCode::argument, "options is NULL");
  if (options->size < kOptionsSizeV1) {
    return set_error(ErrorCode::argument,
                     "options.size is %lu, less than the %lu bytes of the record: call "
                     "folimark_options_init first",
                     static_cast<unsigned long>(options->size),
                     static_cast<unsigned long>(kOptionsSizeV1));
  }
  if (options->size > sizeof(folimark_options)) {
    return set_error(ErrorCode::argument,
                     "options.size is %lu, more than the %lu bytes this version of the library "
                     "knows: the host was built for a later version",
                     static_cast<unsigned long>(options->size),
                     static_cast<unsigned long>(sizeof(folimark_options)));
  }
  if (options->output_path == nullptr && (output_data == nullptr || output_size == nullptr)) {
    return set_error(ErrorCode::argument,
                     "options.output_path is NULL, so output_data and output_size must be given");
  }
  const PathCodingScope utf8(PathCoding::utf8);
  StampRequest request{};
  RequestParts parts;
  StampSource source;
  if (!read_options(full_options(*options), request, parts, source)) return 0;
  uint8_t *data = nullptr;
  size_t size = 0;
  const OutputTarget target{options->output_path, &data, &size};
  if (!execute_stamp_source(source, target, &request)) return 0;
  if (options->output_path == nullptr) {
    *output_data = data;
    *output_size = size;
  }
  return 1;
}

}  // namespace

extern "C" {

FOLIMARK_API int folimark_options_init(folimark_options *options, size_t size) {
  if (options == nullptr || size < kOptionsSizeV1) return FOLIMARK_ERROR_ARGUMENT;
  // A host built for an older, smaller record gets only the fields it has.
  folimark_options defaults{};
  default_options(defaults);
  const size_t known = size < sizeof defaults ? size : sizeof defaults;
  std::memcpy(options, &defaults, known);
  options->size = static_cast<uint32_t>(known);
  return FOLIMARK_OK;
}

FOLIMARK_API int folimark_stamp(const folimark_options *options, unsigned char **output_data,
                                size_t *output_size) {
  if (output_data != nullptr) *output_data = nullptr;
  if (output_size != nullptr) *output_size = 0;
  if (guarded([&] { return stamp(options, output_data, output_size); }) == 0) {
    // Every failure below records its code; a failure without one would be
    // a fault of the library, not of the call.
    if (thread_error().code == ErrorCode::none)
      set_error(ErrorCode::unsupported, "internal error");
    return static_cast<int>(thread_error().code);
  }
  clear_error();
  return FOLIMARK_OK;
}

FOLIMARK_API void folimark_free(void *data) { std::free(data); }

FOLIMARK_API int folimark_error_code(void) { return static_cast<int>(thread_error().code); }

FOLIMARK_API const char *folimark_error_message(void) { return thread_error().text; }

FOLIMARK_API const char *folimark_version(int *major, int *minor, int *patch) {
  if (major != nullptr) *major = FOLIMARK_VERSION_MAJOR;
  if (minor != nullptr) *minor = FOLIMARK_VERSION_MINOR;
  if (patch != nullptr) *patch = FOLIMARK_VERSION_PATCH;
  return FOLIMARK_VERSION_TEXT;
}

}  // extern "C"
