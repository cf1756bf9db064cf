#include "pdf/writer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "common/error.h"
#include "flate/flate.h"
#include "font/font.h"
#include "pdf/body_edits.h"
#include "pdf/dict_edit.h"
#include "pdf/identity.h"
#include "pdf/number_text.h"
#include "pdf/string_crypt.h"
#include "pdf/text_font.h"
#include "platform/file_io.h"
#include "security/security.h"

namespace {

// After the header's version, a comment of four high bytes so that transfer
// programs treat the file as binary.
constexpr char kBinaryMark[] = "\n%\xE2\xE3\xCF\xD3\n";

// How much of the stamp's new objects the output's identifier is made from.
constexpr uint64_t kIdSample = 64 * 1024;

// The output goes to the file in pieces of about this size, between
// objects: large enough that writes are few, small enough that memory does
// not grow with the output.
constexpr uint64_t kFlushSize = 256 * 1024;

struct Writer {
  ByteBuf &out;
  std::vector<int64_t> offsets;  // by object number; -1 when not written
  std::vector<int32_t> gens;     // generation written for each number
  OutputFile &file;              // where out is emptied to
  uint64_t base = 0;             // the file offset of out's first byte
  uint64_t head_from = 0;        // the file offset where head starts
  std::string head;              // kIdSample bytes from head_from, kept as they leave out
};

void put(Writer &w, std::string_view text) { buf_str(w.out, text); }
void put_int(Writer &w, int64_t v) { buf_int(w.out, v); }

// Returns the file offset of the next byte written.
int64_t position(const Writer &w) { return static_cast<int64_t>(w.base + w.out.length); }

// Copies into head what it still lacks of the bytes that out holds.
void keep_head(Writer &w) {
  const uint64_t next = w.head_from + w.head.size();
  const uint64_t end = w.base + w.out.length;
  if (w.head.size() >= kIdSample || next < w.base || next >= end) return;
  const uint64_t take = std::min(kIdSample - w.head.size(), end - next);
  w.head.append(reinterpret_cast<const char *>(w.out.data) + (next - w.base),
                static_cast<size_t>(take));
}

// Hands what out holds to the file and empties it. A buffer that could not
// grow has lost bytes: that is running out of memory.
void flush(Writer &w) {
  if (w.out.failed) throw std::bad_alloc();
  if (w.out.length == 0) return;
  keep_head(w);
  output_write(w.file, buf_view(w.out));
  w.base += w.out.length;
  w.out.length = 0;
  w.out.data[0] = 0;
}

// Appends bytes of the input; a large run goes straight to the file
// instead of through out.
void put_input_bytes(Writer &w, const uint8_t *bytes, uint64_t count) {
  if (count < kFlushSize) {
    buf_bytes(w.out, bytes, count);
    return;
  }
  flush(w);
  output_write(w.file, {bytes, static_cast<size_t>(count)});
  w.base += count;
}

void begin_object(Writer &w, int32_t num, int32_t gen) {
  if (w.out.length >= kFlushSize) flush(w);
  w.offsets[static_cast<size_t>(num)] = position(w);
  w.gens[static_cast<size_t>(num)] = gen;
  put_int(w, num);
  put(w, " ");
  put_int(w, gen);
  put(w, " obj\n");
}

void put_stream_body(Writer &w, const uint8_t *bytes, uint64_t count) {
  put(w, ">>\nstream\n");
  if (bytes != nullptr && count > 0) buf_bytes(w.out, bytes, count);
  put(w, "\nendstream\nendobj\n");
}

// Returns the data of the new stream object num as the output stores it:
// as it is, or, in an encrypted document, encrypted for the object (into
// storage).
Bytes sealed_data(const PdfDoc &doc, int32_t num, Bytes data, std::vector<uint8_t> &storage) {
  if (!doc.security || doc.security->streams == CryptMethod::identity || data.empty()) return data;
  if (!encrypt_data(*doc.security, doc.security->streams, num, 0, data, storage))
    throw std::runtime_error("no random bytes for the encryption of the output");
  return storage;
}

// Appends text composed for object num gen, its strings encrypted for it
// when the document is encrypted.
void put_sealed_text(Writer &w, const PdfDoc &doc, std::string text, int32_t num, int32_t gen) {
  buf_str(w.out, doc.security ? encrypt_strings(doc, std::move(text), num, gen) : text);
}

void put_image_dict(Writer &w, const StampRequest &r, const char *color_space, const char *filter,
                    uint64_t length) {
  // A new image's dictionary holds no string to encrypt.
  put(w, "<< /Type /XObject /Subtype /Image /Width ");
  put_int(w, r.image_width);
  put(w, " /Height ");
  put_int(w, r.image_height);
  put(w, " /ColorSpace ");
  put(w, color_space);
  put(w, " /BitsPerComponent 8 /Filter ");
  put(w, filter);
  put(w, " /Length ");
  put_int(w, static_cast<int64_t>(length));
  put(w, " ");
}

// The colour space of a JPEG's samples as its frame counts its components.
const char *jpeg_colour_space(int32_t components) {
  if (components == 1) return "/DeviceGray";
  if (components == 4) return "/DeviceCMYK";
  return "/DeviceRGB";
}

void write_new_objects(Writer &w, const StampRequest &r, const PdfDoc &doc, const StampPlan &plan) {
  const StampObjects &n = plan.nums;
  std::vector<uint8_t> sealed;
  const auto seal = [&](int32_t num, const uint8_t *bytes, uint64_t count) {
    return sealed_data(doc, num, {bytes, static_cast<size_t>(count)}, sealed);
  };
  // An embedded font's Type 0 font is among plan.objects.
  if (n.font_num > 0 && r.font == nullptr) {
    begin_object(w, n.font_num, 0);
    put(w, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>\n"
           "endobj\n");
  }
  if (n.extra_font_num > 0) {
    begin_object(w, n.extra_font_num, 0);
    put(w, builtin_extra_font_dict());
    put(w, "\nendobj\n");
  }
  if (n.gs_num > 0) {
    begin_object(w, n.gs_num, 0);
    put(w, "<< /Type /ExtGState /ca ");
    buf_fixed(w.out, r.opacity, 4);
    put(w, " /CA ");
    buf_fixed(w.out, r.opacity, 4);
    put(w, " >>\nendobj\n");
  }
  if (n.smask_num > 0) {
    begin_object(w, n.smask_num, 0);
    const Bytes data = seal(n.smask_num, r.alpha_data, r.alpha_size);
    put_image_dict(w, r, "/DeviceGray", "/FlateDecode", data.size());
    put_stream_body(w, data.data(), data.size());
  }
  if (n.image_num > 0) {
    begin_object(w, n.image_num, 0);
    if (r.image_is_jpeg) {
      const Bytes data = seal(n.image_num, r.jpeg_data, r.jpeg_size);
      put_image_dict(w, r, jpeg_colour_space(r.image_components), "/DCTDecode", data.size());
      // Each sample s stands for 1 - s: what Adobe's CMYK files store.
      if (r.image_inverted) put(w, "/Decode [1 0 1 0 1 0 1 0] ");
      put_stream_body(w, data.data(), data.size());
    } else {
      const Bytes data = seal(n.image_num, r.rgb_data, r.rgb_size);
      put_image_dict(w, r, "/DeviceRGB", "/FlateDecode", data.size());
      if (n.smask_num > 0) {
        put(w, "/SMask ");
        put_int(w, n.smask_num);
        put(w, " 0 R ");
      }
      put_stream_body(w, data.data(), data.size());
    }
  }
  for (const NewObject &object : plan.objects) {
    begin_object(w, object.num, 0);
    put_sealed_text(w, doc, object.body, object.num, 0);
    put(w, "\nendobj\n");
  }
  std::vector<uint8_t> plain;
  for (const NewStream &stream : plan.streams) {
    begin_object(w, stream.num, 0);
    Bytes data = stream.data.empty()
                     ? stream.stored
                     : Bytes{reinterpret_cast<const uint8_t *>(stream.data.data()), stream.data.size()};
    // Stored bytes of an encrypted input are encrypted for their own object.
    if (stream.data.empty() && doc.security && doc.security->streams != CryptMethod::identity &&
        !data.empty()) {
      decrypt_data(*doc.security, doc.security->streams, stream.stored_num, stream.stored_gen, data,
                   plain);
      data = plain;
    }
    data = seal(stream.num, data.data(), data.size());
    put(w, "<<");
    put_sealed_text(w, doc, stream.entries, stream.num, 0);
    put(w, " /Length ");
    put_int(w, static_cast<int64_t>(data.size()));
    put(w, " ");
    put_stream_body(w, data.data(), data.size());
  }
}

// Returns true when the dictionary's own /Length is the direct number length.
bool length_is(std::string_view dict, int64_t length) {
  const Bytes s{reinterpret_cast<const uint8_t *>(dict.data()), dict.size()};
  return key_value_text(s, 0, size_of(s), "Length") == std::to_string(length);
}

// Returns the copy of a stream's dictionary whose own /Length is the direct
// count of the data bytes written: the loader delimits the data, and a
// /Length that is missing, misspelt, indirect or wrong would make readers
// take other bytes as the stream.
std::string stream_dict(const PdfDoc &doc, const ObjEntry &e, int64_t data_length) {
  std::string dict = dict_copy_at(doc_bytes(doc), e.dict_pos);
  if (dict.empty()) dict = "<< >>";
  if (length_is(dict, data_length)) return dict;
  strip_dict_entry(dict, "Length");
  dict_append_before_close(dict, " /Length " + std::to_string(data_length));
  return dict;
}

void copy_object(Writer &w, const PdfDoc &doc, const ObjEntry &e) {
  const Bytes file = doc_bytes(doc);
  const std::span<const BodyEdit> edits = body_edits_of(doc, e.num);
  if (e.in_objstm) {
    // Its text holds its strings in the clear: in an encrypted document
    // they are encrypted for the object it becomes.
    if (e.text != nullptr && e.text_len > 0) {
      if (doc.security) {
        ByteBuf text;
        put_edited(text, {e.text, static_cast<size_t>(e.text_len)}, 0, e.text_len, edits);
        if (text.failed) throw std::bad_alloc();
        put_sealed_text(w, doc, std::string(reinterpret_cast<const char *>(text.data),
                                            static_cast<size_t>(text.length)),
                        e.num, 0);
      } else {
        put_edited(w.out, {e.text, static_cast<size_t>(e.text_len)}, 0, e.text_len, edits);
      }
    }
    put(w, "\nendobj\n");
    return;
  }
  if (e.is_stream) {
    const bool has_data = e.data_pos >= 0 && e.data_end > e.data_pos;
    const int64_t data_length = has_data ? e.data_end - e.data_pos : 0;
    buf_str(w.out, stream_dict(doc, e, data_length));
    put(w, "\nstream\n");
    if (has_data) put_input_bytes(w, file.data() + e.data_pos, static_cast<uint64_t>(data_length));
    put(w, "\nendstream\nendobj\n");
    return;
  }
  const DictRange body = object_body(doc, e);
  if (body.present) {
    put_edited(w.out, file, body.start, body.end, edits);
  } else {
    put(w, "null");  // an object without a body
  }
  put(w, "\nendobj\n");
}

// Appends the reference "n g R" to an object of the output: the generation
// it was written with, or else the input's.
void put_reference(Writer &w, const PdfDoc &doc, int32_t num) {
  put_int(w, num);
  put(w, " ");
  int32_t gen = 0;
  if (static_cast<size_t>(num) < w.offsets.size() && w.offsets[static_cast<size_t>(num)] >= 0) {
    gen = w.gens[static_cast<size_t>(num)];
  } else if (const ObjEntry *e = find_obj(doc, num); e != nullptr && !e->in_objstm) {
    gen = e->gen;
  }
  put_int(w, gen);
  put(w, " R");
}

// Returns, by object number, the first selected page (in page order) that
// the object is, or -1.
std::vector<int32_t> stamped_pages(const PdfDoc &doc, const StampPlan &plan) {
  std::vector<int32_t> stamped_page(static_cast<size_t>(doc.max_obj_num) + 1, -1);
  for (size_t k = 0; k < doc.page_infos.size(); ++k) {
    const int32_t num = doc.page_infos[k].obj_num;
    if (plan.pages[k].selected && num >= 0 && num <= doc.max_obj_num &&
        stamped_page[static_cast<size_t>(num)] < 0)
      stamped_page[static_cast<size_t>(num)] = static_cast<int32_t>(k);
  }
  return stamped_page;
}

// Writes the document's objects that are not written yet: stamped pages
// rewritten, the others copied with their edits; object-stream members
// become plain objects of generation 0. With changed_only, only what an
// update must carry: stamped pages, objects with edits, objects added
// since loading.
void write_document_objects(Writer &w, const PdfDoc &doc, const StampPlan &plan,
                            bool changed_only) {
  const std::vector<int32_t> stamped_page = stamped_pages(doc, plan);
  for (const ObjEntry &e : doc.objs) {
    const auto num = static_cast<size_t>(e.num);
    if (w.offsets[num] != -1) continue;
    const int32_t page = num < stamped_page.size() ? stamped_page[num] : -1;
    if (changed_only && page < 0 && body_edits_of(doc, e.num).empty() &&
        e.num <= doc.loaded_max_num)
      continue;
    const int32_t gen = e.in_objstm ? 0 : e.gen;
    begin_object(w, e.num, gen);
    if (page >= 0) {
      put_sealed_text(w, doc, rewrite_page_dict(doc, e, plan.pages[static_cast<size_t>(page)]), e.num,
                      gen);
      put(w, "\nendobj\n");
    } else {
      copy_object(w, doc, e);
    }
  }
}

// Appends the trailer entries both forms share: /Size, /Root, /Info when
// info is set, and /ID, whose second element comes from the start of the
// stamp's objects (which hold what the request asked for), their end, and
// the input's size and identity: cheap, and it differs with any of them.
void put_trailer_entries(Writer &w, const PdfDoc &doc, int64_t size, bool info,
                         int64_t new_objects_end) {
  put(w, " /Size ");
  put_int(w, size);
  put(w, " /Root ");
  put_reference(w, doc, doc.catalog_num > 0 ? doc.catalog_num : 1);
  if (info) {
    put(w, " /Info ");
    put_reference(w, doc, doc.out_info_num);
  }
  // The handler and the file key of an encrypted input stay: its /Encrypt
  // dictionary, and the first element of /ID that the key is made from.
  if (doc.encrypt_num > 0) {
    put(w, " /Encrypt ");
    put_reference(w, doc, doc.encrypt_num);
  } else if (doc.encrypt_pos >= 0) {
    put(w, " /Encrypt ");
    buf_str(w.out, dict_copy_at(doc_bytes(doc), doc.encrypt_pos));
  }
  // Without an /ID the key was made from an empty first element; the
  // output's must be empty too.
  const std::string_view input_id =
      doc.security && doc.trailer_id.empty() ? std::string_view("[<> <>]") : doc.trailer_id;
  keep_head(w);
  const uint64_t sampled = static_cast<uint64_t>(new_objects_end) - w.head_from;
  std::string changed = w.head.substr(0, static_cast<size_t>(std::min<uint64_t>(sampled, w.head.size())));
  changed += std::to_string(new_objects_end) + " " + std::to_string(doc.length) + doc.trailer_id;
  put(w, " /ID ");
  put(w, output_id(input_id, {reinterpret_cast<const uint8_t *>(changed.data()), changed.size()}));
}

// Appends the end of the file: where its newest cross-reference section is.
void put_file_end(Writer &w, int64_t xref) {
  put(w, "startxref\n");
  put_int(w, xref);
  put(w, "\n%%EOF\n");
  flush(w);
}

// Writes the whole output file: header, the stamp's objects, every object
// of the document, one cross-reference table and the trailer.
void write_whole(Writer &w, const StampRequest &request, const PdfDoc &doc, const StampPlan &plan,
                 int32_t last_num) {
  put(w, "%PDF-");
  // A font program embedded as OpenType came with PDF 1.6.
  std::string version = output_version(doc_bytes(doc));
  if (request.font != nullptr && request.font->cff && version < "1.6") version = "1.6";
  put(w, version);
  buf_bytes(w.out, kBinaryMark, sizeof kBinaryMark - 1);
  write_new_objects(w, request, doc, plan);
  const int64_t new_objects_end = position(w);
  write_document_objects(w, doc, plan, false);

  const int64_t xref = position(w);
  put(w, "xref\n0 ");
  put_int(w, last_num + 1);
  put(w, "\n0000000000 65535 f \n");
  for (int32_t n = 1; n <= last_num; ++n) {
    if (w.out.length >= kFlushSize) flush(w);
    const int64_t offset = w.offsets[static_cast<size_t>(n)];
    if (offset < 0) {
      put(w, "0000000000 65535 f \n");
      continue;
    }
    buf_int_padded(w.out, offset, 10);
    put(w, " ");
    buf_int_padded(w.out, w.gens[static_cast<size_t>(n)], 5);
    put(w, " n \n");
  }
  // /Info only when the input has that object and it is written: a missing
  // one's number may now belong to one of the stamp's new objects.
  const int32_t info = doc.out_info_num;
  put(w, "trailer\n<<");
  put_trailer_entries(w, doc, last_num + 1, info > 0 && find_obj(doc, info) != nullptr,
                      new_objects_end);
  put(w, " >>\n");
  put_file_end(w, xref);
}

// Returns the runs of consecutive object numbers written, as first number
// and count.
std::vector<std::pair<int32_t, int32_t>> written_runs(const Writer &w) {
  std::vector<std::pair<int32_t, int32_t>> runs;
  for (size_t n = 1; n < w.offsets.size(); ++n) {
    if (w.offsets[n] < 0) continue;
    const auto num = static_cast<int32_t>(n);
    if (!runs.empty() && runs.back().first + runs.back().second == num) {
      ++runs.back().second;
    } else {
      runs.emplace_back(num, 1);
    }
  }
  return runs;
}

// Appends a cross-reference table of the objects written, in subsections.
void put_update_table(Writer &w) {
  put(w, "xref\n");
  for (const auto &[first, count] : written_runs(w)) {
    put_int(w, first);
    put(w, " ");
    put_int(w, count);
    put(w, "\n");
    for (int32_t n = first; n < first + count; ++n) {
      if (w.out.length >= kFlushSize) flush(w);
      buf_int_padded(w.out, w.offsets[static_cast<size_t>(n)], 10);
      put(w, " ");
      buf_int_padded(w.out, w.gens[static_cast<size_t>(n)], 5);
      put(w, " n \n");
    }
  }
}

// Returns how many bytes the big-endian number v needs (at least one).
int byte_width(uint64_t v) {
  int width = 1;
  while (width < 8 && (v >> (8 * width)) != 0) ++width;
  return width;
}

// Appends the cross-reference stream object num of the objects written
// (itself included) up to its dictionary's open entries: the caller adds the
// trailer entries and the stream ends it. Returns the compressed rows.
ByteBuf put_update_stream_head(Writer &w, int32_t num) {
  begin_object(w, num, 0);
  // Rows of type 1: the offset in as few bytes as the largest (this
  // object's own) needs, and a two-byte generation.
  const int width = byte_width(static_cast<uint64_t>(w.offsets[static_cast<size_t>(num)]));
  const std::vector<std::pair<int32_t, int32_t>> runs = written_runs(w);
  std::string rows;
  for (const auto &[first, count] : runs) {
    for (int32_t n = first; n < first + count; ++n) {
      const auto offset = static_cast<uint64_t>(w.offsets[static_cast<size_t>(n)]);
      const auto gen = static_cast<uint32_t>(w.gens[static_cast<size_t>(n)]);
      rows += '\1';
      for (int b = width; b-- > 0;) rows += static_cast<char>((offset >> (8 * b)) & 0xFF);
      rows += static_cast<char>((gen >> 8) & 0xFF);
      rows += static_cast<char>(gen & 0xFF);
    }
  }
  unsigned char *packed = nullptr;
  size_t packed_len = 0;
  if (tvl_deflate(reinterpret_cast<const unsigned char *>(rows.data()), rows.size(), &packed,
                  &packed_len) != 0)
    throw std::bad_alloc();
  ByteBuf data = buf_adopt(packed, packed_len);
  if (data.failed) throw std::bad_alloc();
  put(w, "<< /Type /XRef /W [1 ");
  put_int(w, width);
  put(w, " 2] /Index [");
  for (const auto &[first, count] : runs) {
    put(w, " ");
    put_int(w, first);
    put(w, " ");
    put_int(w, count);
  }
  put(w, " ] /Filter /FlateDecode /Length ");
  put_int(w, static_cast<int64_t>(data.length));
  return data;
}

// Writes the stamp as an update appended to the input, whose bytes stay as
// they are: the stamp's objects, the stamped pages and the objects with
// edits or added since loading, then a cross-reference section of the kind
// the input's newest one is, linked to it by /Prev.
void write_update(Writer &w, const StampRequest &request, const PdfDoc &doc, const StampPlan &plan,
                  int32_t last_num) {
  const Bytes input = doc_bytes(doc);
  output_write(w.file, input);
  w.base = input.size();
  w.head_from = w.base;
  if (input.empty() || (input.back() != '\n' && input.back() != '\r')) put(w, "\n");
  write_new_objects(w, request, doc, plan);
  const int64_t new_objects_end = position(w);
  write_document_objects(w, doc, plan, true);

  const bool info = doc.out_info_num > 0 && find_obj(doc, doc.out_info_num) != nullptr;
  if (doc.xref_is_stream) {
    const int32_t num = last_num + 1;
    const ByteBuf data = put_update_stream_head(w, num);
    put_trailer_entries(w, doc, std::max<int64_t>(num + 1, doc.size), info, new_objects_end);
    put(w, " /Prev ");
    put_int(w, doc.startxref_offset);
    put(w, " >>\nstream\n");
    buf_bytes(w.out, data.data, data.length);
    put(w, "\nendstream\nendobj\n");
    put_file_end(w, w.offsets[static_cast<size_t>(num)]);
    return;
  }
  const int64_t xref = position(w);
  put_update_table(w);
  put(w, "trailer\n<<");
  put_trailer_entries(w, doc, std::max<int64_t>(last_num + 1, doc.size), info, new_objects_end);
  put(w, " /Prev ");
  put_int(w, doc.startxref_offset);
  put(w, " >>\n");
  put_file_end(w, xref);
}

}  // namespace

int write_output(const OutputTarget &target, const StampRequest &request, const PdfDoc &doc,
                 const StampPlan &plan, OutputForm form, WriteStep &step) {
  const char *output_path = target.path;
  int32_t last_num = plan.nums.last_num;
  if (doc.max_obj_num > last_num) last_num = doc.max_obj_num;
  step = WriteStep::offsets;
  std::vector<int64_t> offsets(static_cast<size_t>(last_num) + 16, -1);
  std::vector<int32_t> gens(static_cast<size_t>(last_num) + 16, 0);
  step = WriteStep::composing;
  OutputFile file;
  WriteResult written;
  if (output_path == nullptr) output_open_memory(file);
  else written = output_open(file, output_path);
  if (written.status == WriteStatus::ok) {
    ByteBuf out;
    buf_reserve(out, 65536);
    Writer w{out, std::move(offsets), std::move(gens), file, 0, 0, {}};
    if (form == OutputForm::update) {
      write_update(w, request, doc, plan, last_num);
    } else {
      write_whole(w, request, doc, plan, last_num);
    }
    written = output_commit(file);
    if (output_path == nullptr && written.status == WriteStatus::ok)
      output_take_memory(file, target.data, target.size);
  }
  switch (written.status) {
    case WriteStatus::ok:
      return 1;
    case WriteStatus::cannot_open:
      set_error(ErrorCode::write, "cannot open output file %s for writing: %s", output_path,
                std::strerror(written.error_number));
      return 0;
    case WriteStatus::write_failed:
      set_error(ErrorCode::write, "write error on %s", output_path);
      return 0;
  }
  return 0;
}
