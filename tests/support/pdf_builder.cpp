#include "support/pdf_builder.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <stdexcept>
#include <unistd.h>

namespace testpdf {

std::string stream(const std::string &dict_entries, const std::string &data) {
  return "<< " + dict_entries + " /Length " + std::to_string(data.size()) + " >>\nstream\n" +
         data + "\nendstream";
}

std::string zlib_compress(const std::string &data, int level) {
  uLongf size = compressBound(static_cast<uLong>(data.size()));
  std::string packed(size, '\0');
  if (compress2(reinterpret_cast<Bytef *>(packed.data()), &size,
                reinterpret_cast<const Bytef *>(data.data()), static_cast<uLong>(data.size()),
                level) != Z_OK)
    throw std::runtime_error("compress2 failed");
  packed.resize(size);
  return packed;
}

namespace {

// Returns count bytes of fill (or the bytes of source when given) deflated
// with the given window bits: 15 for a zlib stream, -15 for raw DEFLATE.
std::string deflate_with(const std::string *source, size_t count, int level, int window_bits) {
  z_stream z{};
  if (deflateInit2(&z, level, Z_DEFLATED, window_bits, 8, Z_DEFAULT_STRATEGY) != Z_OK)
    throw std::runtime_error("deflateInit2 failed");
  const std::string zeros(source != nullptr ? 0 : 1u << 20, '\0');
  std::string out;
  char chunk[1 << 16];
  size_t fed = 0;
  const size_t total = source != nullptr ? source->size() : count;
  int status = Z_OK;
  while (status != Z_STREAM_END) {
    if (z.avail_in == 0 && fed < total) {
      const size_t piece = source != nullptr ? total : std::min(total - fed, zeros.size());
      const char *from = source != nullptr ? source->data() : zeros.data();
      z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(from));
      z.avail_in = static_cast<uInt>(piece);
      fed += piece;
    }
    z.next_out = reinterpret_cast<Bytef *>(chunk);
    z.avail_out = sizeof chunk;
    status = deflate(&z, fed < total || z.avail_in > 0 ? Z_NO_FLUSH : Z_FINISH);
    if (status == Z_STREAM_ERROR) {
      deflateEnd(&z);
      throw std::runtime_error("deflate failed");
    }
    out.append(chunk, sizeof chunk - z.avail_out);
  }
  deflateEnd(&z);
  return out;
}

}  // namespace

std::string raw_deflate(const std::string &data, int level) {
  return deflate_with(&data, 0, level, -15);
}

std::string zlib_zeros(size_t count, int level) { return deflate_with(nullptr, count, level, 15); }

std::string flate_stream(const std::string &dict_entries, const std::string &data) {
  return stream("/Filter /FlateDecode " + dict_entries, zlib_compress(data));
}

std::string object_stream_text(const std::vector<Member> &members, int *first) {
  std::string header;
  std::string bodies;
  for (const Member &m : members) {
    header += std::to_string(m.num) + " " + std::to_string(bodies.size()) + " ";
    bodies += m.body + " ";
  }
  *first = static_cast<int>(header.size());
  return header + bodies;
}

std::string object_stream(const std::vector<Member> &members, bool compress) {
  int first = 0;
  const std::string text = object_stream_text(members, &first);
  const std::string dict = "/Type /ObjStm /N " + std::to_string(members.size()) + " /First " +
                           std::to_string(first);
  return compress ? flate_stream(dict, text) : stream(dict, text);
}

namespace {

struct XrefRow {
  int type;  // 0 free, 1 in the file, 2 in an object stream
  int64_t f1;
  int f2;
};

// Returns a classic cross-reference table of the rows, one subsection per
// run of consecutive numbers.
std::string table_text(const std::map<int, XrefRow> &rows) {
  std::string out = "xref\n";
  for (auto it = rows.begin(); it != rows.end();) {
    auto run_end = it;
    int count = 0;
    for (int n = it->first; run_end != rows.end() && run_end->first == n; ++run_end, ++n) ++count;
    out += std::to_string(it->first) + " " + std::to_string(count) + "\n";
    for (; it != run_end; ++it) {
      char line[32];
      std::snprintf(line, sizeof line, "%010lld %05d %c \n", static_cast<long long>(it->second.f1),
                    it->second.f2, it->second.type == 1 ? 'n' : 'f');
      out += line;
    }
  }
  return out;
}

}  // namespace

std::string build(const std::vector<Object> &objects, int root, const Options &options) {
  std::string out = options.header + "%\xE2\xE3\xCF\xD3\n";
  std::map<int, std::pair<size_t, int>> offsets;
  int max_num = 0;
  for (const Object &o : objects) {
    offsets[o.num] = {out.size(), o.gen};
    if (o.num > max_num) max_num = o.num;
    out += std::to_string(o.num) + " " + std::to_string(o.gen) + " obj\n" + o.body;
    out += options.write_endobj ? "\nendobj\n" : "\n";
  }
  if (!options.write_xref) return out;
  // Subsections for the runs of numbers present; numbers the objects do not
  // use are left out, as writers leave out the members of object streams.
  std::map<int, XrefRow> rows = {{0, {0, 0, 65535}}};
  for (const auto &[num, at] : offsets) rows[num] = {1, static_cast<int64_t>(at.first), at.second};
  const size_t xref = out.size();
  out += table_text(rows);
  out += "trailer\n<< /Size " + std::to_string(max_num + 1);
  if (root > 0) out += " /Root " + std::to_string(root) + " 0 R";
  if (!options.trailer_extra.empty()) out += " " + options.trailer_extra;
  out += " >>\nstartxref\n" +
         std::to_string(static_cast<int64_t>(xref) + options.xref_offset_shift) + "\n%%EOF\n";
  return out;
}

namespace {

// Returns the rows as a cross-reference stream object's body.
std::string xref_stream_body(const std::map<int, XrefRow> &rows, const std::string &trailer,
                             bool predictor) {
  std::string index, data;
  int run_start = -1, run_len = 0, last = -2;
  for (const auto &[num, row] : rows) {
    if (num != last + 1) {
      if (run_len > 0) index += std::to_string(run_start) + " " + std::to_string(run_len) + " ";
      run_start = num;
      run_len = 0;
    }
    ++run_len;
    last = num;
    std::string fields(7, '\0');
    fields[0] = static_cast<char>(row.type);
    for (int i = 0; i < 4; ++i) fields[static_cast<size_t>(1 + i)] = static_cast<char>(row.f1 >> (24 - 8 * i));
    fields[5] = static_cast<char>(row.f2 >> 8);
    fields[6] = static_cast<char>(row.f2);
    data += fields;
  }
  if (run_len > 0) index += std::to_string(run_start) + " " + std::to_string(run_len);
  std::string dict = "/Type /XRef /W [1 4 2] /Index [" + index + "] " + trailer;
  if (predictor) {
    // PNG Up filter on each 7-byte row.
    std::string filtered;
    std::string prior(7, '\0');
    for (size_t r = 0; r + 7 <= data.size(); r += 7) {
      filtered += '\x02';
      for (size_t k = 0; k < 7; ++k)
        filtered += static_cast<char>(static_cast<uint8_t>(data[r + k]) - static_cast<uint8_t>(prior[k]));
      prior = data.substr(r, 7);
    }
    data = filtered;
    dict += " /DecodeParms << /Predictor 12 /Columns 7 >>";
  }
  return flate_stream(dict, data);
}

}  // namespace

std::string build_sections(const std::vector<Section> &sections, const std::string &header) {
  std::string out = header + "%\xE2\xE3\xCF\xD3\n";
  int64_t prev = -1;
  int max_num = 0;
  for (size_t k = 0; k < sections.size(); ++k) {
    const Section &sec = sections[k];
    std::map<int, XrefRow> rows;
    if (k == 0) rows[0] = {0, 0, 65535};
    const auto put = [&](int num, int gen, const std::string &body) {
      rows[num] = {1, static_cast<int64_t>(out.size()), gen};
      if (num > max_num) max_num = num;
      out += std::to_string(num) + " " + std::to_string(gen) + " obj\n" + body + "\nendobj\n";
    };
    for (const Object &o : sec.objects) put(o.num, o.gen, o.body);
    if (!sec.members.empty()) {
      put(sec.container, 0, object_stream(sec.members));
      for (size_t i = 0; i < sec.members.size(); ++i) {
        rows[sec.members[i].num] = {2, sec.container, static_cast<int>(i)};
        if (sec.members[i].num > max_num) max_num = sec.members[i].num;
      }
    }
    for (const int n : sec.freed) rows[n] = {0, 0, 1};
    if (sec.form != Section::table && sec.xref_num > max_num) max_num = sec.xref_num;
    const int size = sec.size > 0 ? sec.size : max_num + 1;
    std::string trailer = "/Size " + std::to_string(size);
    if (!sec.trailer.empty()) trailer += " " + sec.trailer;
    if (prev >= 0) trailer += " /Prev " + std::to_string(prev);
    if (sec.form == Section::stream) {
      rows[sec.xref_num] = {1, static_cast<int64_t>(out.size()), 0};
      prev = static_cast<int64_t>(out.size());
      out += std::to_string(sec.xref_num) + " 0 obj\n" +
             xref_stream_body(rows, trailer, sec.predictor) + "\nendobj\n";
    } else {
      if (sec.form == Section::hybrid) {
        std::map<int, XrefRow> compressed;
        for (auto &[num, row] : rows)
          if (row.type == 2) compressed[num] = row;
        compressed[sec.xref_num] = {1, static_cast<int64_t>(out.size()), 0};
        trailer += " /XRefStm " + std::to_string(out.size());
        out += std::to_string(sec.xref_num) + " 0 obj\n" +
               xref_stream_body(compressed, "/Size " + std::to_string(size), false) + "\nendobj\n";
      }
      for (auto it = rows.begin(); it != rows.end();)
        it = it->second.type == 2 ? rows.erase(it) : std::next(it);
      prev = static_cast<int64_t>(out.size());
      out += table_text(rows);
      out += "trailer\n<< " + trailer + " >>\n";
    }
    out += "startxref\n" + std::to_string(prev) + "\n%%EOF\n";
  }
  return out;
}

std::string simple_document(const std::vector<std::string> &page_texts,
                            const std::string &media_box, int font_size) {
  std::vector<Object> objects;
  std::string kids;
  const int first_page = 4;
  for (size_t i = 0; i < page_texts.size(); ++i)
    kids += std::to_string(first_page + 2 * static_cast<int>(i)) + " 0 R ";
  objects.push_back({1, 0, "<< /Type /Catalog /Pages 2 0 R >>"});
  objects.push_back({2, 0,
                     "<< /Type /Pages /Kids [" + kids + "] /Count " +
                         std::to_string(page_texts.size()) + " >>"});
  objects.push_back(
      {3, 0, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>"});
  for (size_t i = 0; i < page_texts.size(); ++i) {
    const int page = first_page + 2 * static_cast<int>(i);
    objects.push_back({page, 0,
                       "<< /Type /Page /Parent 2 0 R /MediaBox " + media_box +
                           " /Resources << /Font << /F1 3 0 R >> >> /Contents " +
                           std::to_string(page + 1) + " 0 R >>"});
    const std::string show = "BT /F1 " + std::to_string(font_size) + " Tf 72 700 Td (" +
                             page_texts[i] + ") Tj ET";
    objects.push_back({page + 1, 0, stream("", show)});
  }
  return build(objects, 1);
}

std::string temp_path(const std::string &name) {
  const auto dir = std::filesystem::temp_directory_path() /
                   ("folimark-test-" + std::to_string(static_cast<long>(getpid())));
  std::filesystem::create_directories(dir);
  return (dir / name).string();
}

void write_file(const std::string &path, const std::string &bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!f) throw std::runtime_error("cannot write " + path);
}

std::string read_file(const std::string &path) {
  std::ifstream f(path, std::ios::binary);
  if (!f) throw std::runtime_error("cannot read " + path);
  return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

bool file_exists(const std::string &path) { return std::filesystem::exists(path); }

}  // namespace testpdf
