#include "pdf/writer.h"

#include <cerrno>
#include <cstring>
#include <new>
#include <vector>

#include "common/error.h"
#include "pdf/body_edits.h"
#include "pdf/dict_edit.h"
#include "pdf/identity.h"
#include "pdf/number_text.h"
#include "platform/file_io.h"

namespace {

// After the header's version, a comment of four high bytes so that transfer
// programs treat the file as binary.
constexpr char kBinaryMark[] = "\n%\xE2\xE3\xCF\xD3\n";

// How much of the stamp's new objects the output's identifier is made from.
constexpr uint64_t kIdSample = 64 * 1024;

struct Writer {
  ByteBuf &out;
  std::vector<int64_t> offsets;  // by object number; -1 when not written
  std::vector<int32_t> gens;     // generation written for each number
};

void put(Writer &w, std::string_view text) { buf_str(w.out, text); }
void put_int(Writer &w, int64_t v) { buf_int(w.out, v); }

void begin_object(Writer &w, int32_t num, int32_t gen) {
  w.offsets[static_cast<size_t>(num)] = static_cast<int64_t>(w.out.length);
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

void put_image_dict(Writer &w, const StampRequest &r, const char *color_space, const char *filter,
                    uint64_t length) {
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

void write_new_objects(Writer &w, const StampRequest &r, const StampPlan &plan) {
  const StampObjects &n = plan.nums;
  if (n.font_num > 0) {
    begin_object(w, n.font_num, 0);
    put(w, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>\n"
           "endobj\n");
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
    put_image_dict(w, r, "/DeviceGray", "/FlateDecode", r.alpha_size);
    put_stream_body(w, r.alpha_data, r.alpha_size);
  }
  if (n.image_num > 0) {
    begin_object(w, n.image_num, 0);
    if (r.image_is_jpeg) {
      put_image_dict(w, r, r.image_components == 1 ? "/DeviceGray" : "/DeviceRGB", "/DCTDecode",
                     r.jpeg_size);
      put_stream_body(w, r.jpeg_data, r.jpeg_size);
    } else {
      put_image_dict(w, r, "/DeviceRGB", "/FlateDecode", r.rgb_size);
      if (n.smask_num > 0) {
        put(w, "/SMask ");
        put_int(w, n.smask_num);
        put(w, " 0 R ");
      }
      put_stream_body(w, r.rgb_data, r.rgb_size);
    }
  }
  for (const NewStream &stream : plan.streams) {
    begin_object(w, stream.num, 0);
    const bool stored = stream.data.empty();
    const uint64_t length = stored ? stream.stored.size() : stream.data.size();
    put(w, "<<");
    put(w, stream.entries);
    put(w, " /Length ");
    put_int(w, static_cast<int64_t>(length));
    put(w, " ");
    put_stream_body(w,
                    stored ? stream.stored.data()
                           : reinterpret_cast<const uint8_t *>(stream.data.data()),
                    length);
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
    if (e.text != nullptr && e.text_len > 0)
      put_edited(w.out, {e.text, static_cast<size_t>(e.text_len)}, 0, e.text_len, edits);
    put(w, "\nendobj\n");
    return;
  }
  if (e.is_stream) {
    const bool has_data = e.data_pos >= 0 && e.data_end > e.data_pos;
    const int64_t data_length = has_data ? e.data_end - e.data_pos : 0;
    buf_str(w.out, stream_dict(doc, e, data_length));
    put(w, "\nstream\n");
    if (has_data) buf_bytes(w.out, file.data() + e.data_pos, static_cast<uint64_t>(data_length));
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

// Returns the reference "n g R" to an object of the output.
void put_reference(Writer &w, int32_t num) {
  put_int(w, num);
  put(w, " ");
  const int32_t gen = static_cast<size_t>(num) < w.gens.size() ? w.gens[static_cast<size_t>(num)] : 0;
  put_int(w, gen);
  put(w, " R");
}

}  // namespace

void compose_output(ByteBuf &out, const StampRequest &request, const PdfDoc &doc,
                    const StampPlan &plan, WriteStep &step) {
  int32_t last_num = plan.nums.last_num;
  if (doc.max_obj_num > last_num) last_num = doc.max_obj_num;
  Writer w{out, {}, {}};
  step = WriteStep::offsets;
  w.offsets.assign(static_cast<size_t>(last_num) + 16, -1);
  w.gens.assign(static_cast<size_t>(last_num) + 16, 0);
  step = WriteStep::composing;
  buf_reserve(out, 65536);
  put(w, "%PDF-");
  put(w, output_version(doc_bytes(doc)));
  buf_bytes(out, kBinaryMark, sizeof kBinaryMark - 1);
  write_new_objects(w, request, plan);
  // The stamp's own objects, with the input's size and identity, tell this
  // output from the input and from other stamps of it.
  const uint64_t new_objects_end = out.length;

  // The first selected page of each object number, in page order.
  std::vector<int32_t> stamped_page(static_cast<size_t>(doc.max_obj_num) + 1, -1);
  for (size_t k = 0; k < doc.page_infos.size(); ++k) {
    const int32_t num = doc.page_infos[k].obj_num;
    if (plan.pages[k].selected && num >= 0 && num <= doc.max_obj_num &&
        stamped_page[static_cast<size_t>(num)] < 0)
      stamped_page[static_cast<size_t>(num)] = static_cast<int32_t>(k);
  }

  for (const ObjEntry &e : doc.objs) {
    const size_t num = static_cast<size_t>(e.num);
    if (w.offsets[num] != -1) continue;
    begin_object(w, e.num, e.in_objstm ? 0 : e.gen);
    const int32_t page = stamped_page[num];
    if (page >= 0) {
      buf_str(out, rewrite_page_dict(doc, e, plan.pages[static_cast<size_t>(page)]));
      put(w, "\nendobj\n");
    } else {
      copy_object(w, doc, e);
    }
  }

  const int64_t xref = static_cast<int64_t>(out.length);
  put(w, "xref\n0 ");
  put_int(w, last_num + 1);
  put(w, "\n0000000000 65535 f \n");
  for (int32_t n = 1; n <= last_num; ++n) {
    const int64_t offset = w.offsets[static_cast<size_t>(n)];
    if (offset < 0) {
      put(w, "0000000000 65535 f \n");
      continue;
    }
    buf_int_padded(out, offset, 10);
    put(w, " ");
    buf_int_padded(out, w.gens[static_cast<size_t>(n)], 5);
    put(w, " n \n");
  }
  put(w, "trailer\n<< /Size ");
  put_int(w, last_num + 1);
  put(w, " /Root ");
  put_reference(w, doc.catalog_num > 0 ? doc.catalog_num : 1);
  // /Info only when the input has that object and it is written: a missing
  // one's number may now belong to one of the stamp's new objects.
  const int32_t info = doc.out_info_num;
  if (info > 0 && find_obj(doc, info) != nullptr) {
    put(w, " /Info ");
    put_reference(w, doc.out_info_num);
  }
  // The second element of /ID comes from the start of the stamp's objects
  // (which hold what the request asked for), their size, and the input's
  // size and identity: cheap, and it differs with any of them.
  const size_t sampled = static_cast<size_t>(new_objects_end < kIdSample ? new_objects_end : kIdSample);
  std::string changed(reinterpret_cast<const char *>(out.data), sampled);
  changed += std::to_string(new_objects_end) + " " + std::to_string(doc.length) + doc.trailer_id;
  put(w, " /ID ");
  put(w, output_id(doc.trailer_id,
                   {reinterpret_cast<const uint8_t *>(changed.data()), changed.size()}));
  put(w, " >>\nstartxref\n");
  put_int(w, xref);
  put(w, "\n%%EOF\n");
  // A buffer that could not grow has lost bytes.
  if (out.failed || out.data == nullptr) throw std::bad_alloc();
}

int write_output(const char *output_path, const StampRequest &request, const PdfDoc &doc,
                 const StampPlan &plan, WriteStep &step) {
  ByteBuf out;
  compose_output(out, request, doc, plan, step);
  const WriteResult written = replace_file(output_path, buf_view(out));
  switch (written.status) {
    case WriteStatus::ok:
      return 1;
    case WriteStatus::cannot_open:
      set_error("cannot open output file %s for writing: %s", output_path,
                std::strerror(written.error_number));
      return 0;
    case WriteStatus::write_failed:
      set_error("write error on %s", output_path);
      return 0;
  }
  return 0;
}
