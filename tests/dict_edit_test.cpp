// Editing of dictionary text: the stamp's entries in a page's resources
// (inline, indirect, inherited or absent), removal and appending of entries,
// and the rewrite of a stamped page's dictionary.
#include "pdf/dict_edit.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pdf/content.h"
#include "pdf/pdf_doc.h"
#include "support/pdf_builder.h"
#include "support/stamp_fixture.h"

using testpdf::Object;

namespace {

Bytes bytes_of(const std::string &s) {
  return {reinterpret_cast<const uint8_t *>(s.data()), s.size()};
}

StampObjects text_nums(int32_t font, int32_t gs) {
  StampObjects n;
  n.font_num = font;
  n.gs_num = gs;
  return n;
}

StampObjects image_nums(int32_t gs, int32_t image) {
  StampObjects n;
  n.gs_num = gs;
  n.image_num = image;
  return n;
}

// A document with the catalog 1, a root node 2 and whatever the case adds.
std::vector<Object> with_root(const std::string &root_entries, std::vector<Object> more) {
  std::vector<Object> objects = {
      {1, 0, "<< /Type /Catalog /Pages 2 0 R >>"},
      {2, 0, "<< /Type /Pages /Kids [3 0 R] /Count 1 " + root_entries + " >>"}};
  objects.insert(objects.end(), more.begin(), more.end());
  return objects;
}

}  // namespace

// Resources: where the start text comes from and how the stamp's entries go in.
TEST(PageResources, Table) {
  struct Case {
    const char *name;
    std::vector<Object> objects;
    int32_t parent, resources_num;
    StampObjects nums;
    const char *expected;
  };
  const std::string page = "<< /Type /Page /Parent 2 0 R ";
  const Case cases[] = {
      {"none", with_root("", {{3, 0, page + ">>"}}), 2, -1, text_nums(12, 13),
       "<<  /Font << /F_STAMP 12 0 R >>  /ExtGState << /GS_STAMP 13 0 R >> >>"},
      {"inline font",
       with_root(
           "", {{3, 0, page + "/Resources << /Font << /F1 5 0 R >> /ProcSet [/PDF /Text] >> >>"}}),
       2, -1, text_nums(12, 0),
       "<< /Font << /F1 5 0 R  /F_STAMP 12 0 R >> /ProcSet [/PDF /Text] >>"},
      {"indirect font",
       with_root("", {{3, 0, page + "/Resources << /Font 7 0 R >> >>"}, {7, 0, "<< /F1 5 0 R >>"}}),
       2, -1, text_nums(12, 0), "<< /Font <<  /F1 5 0 R  /F_STAMP 12 0 R >> >>"},
      {"indirect resources",
       with_root("", {{3, 0, page + "/Resources 8 0 R >>"}, {8, 0, "<< /Font << /F1 5 0 R >> >>"}}),
       2, -1, text_nums(12, 13),
       "<< /Font << /F1 5 0 R  /F_STAMP 12 0 R >>  /ExtGState << /GS_STAMP 13 0 R >> >>"},
      {"parent's", with_root("/Resources << /Font << /F1 5 0 R >> >>", {{3, 0, page + ">>"}}), 2,
       -1, text_nums(12, 0), "<< /Font << /F1 5 0 R  /F_STAMP 12 0 R >> >>"},
      {"parent's indirect",
       with_root("/Resources 8 0 R",
                 {{3, 0, page + ">>"}, {8, 0, "<< /XObject << /X1 4 0 R >> >>"}}),
       2, -1, image_nums(0, 9), "<< /XObject << /X1 4 0 R  /Im_STAMP 9 0 R >> >>"},
      {"nearest ancestor",
       with_root("/Resources << /Font << /F1 5 0 R >> >>",
                 {{3, 0, "<< /Type /Page /Parent 10 0 R >>"},
                  {10, 0, "<< /Type /Pages /Parent 2 0 R /Kids [3 0 R] >>"}}),
       10, 2, text_nums(12, 0), "<< /Font << /F1 5 0 R  /F_STAMP 12 0 R >> >>"},
      {"no ancestor has resources", with_root("", {{3, 0, page + ">>"}}), 2, -1,
       text_nums(12, 0), "<<  /Font << /F_STAMP 12 0 R >> >>"},
      {"own value unusable",
       with_root("/Resources << /Font << /F1 5 0 R >> >>", {{3, 0, page + "/Resources null >>"}}),
       2, 2, text_nums(12, 0), "<<  /Font << /F_STAMP 12 0 R >> >>"},
      {"own reference missing", with_root("", {{3, 0, page + "/Resources 44 0 R >>"}}), 2, -1,
       text_nums(12, 0), "<<  /Font << /F_STAMP 12 0 R >> >>"},
      {"image opaque", with_root("", {{3, 0, page + ">>"}}), 2, -1, image_nums(0, 9),
       "<<  /XObject << /Im_STAMP 9 0 R >> >>"},
      {"image transparent", with_root("", {{3, 0, page + ">>"}}), 2, -1, image_nums(8, 9),
       "<<  /ExtGState << /GS_STAMP 8 0 R >>  /XObject << /Im_STAMP 9 0 R >> >>"},
      {"FontX is not Font",
       with_root("", {{3, 0, page + "/Resources << /XObject << /FontX 3 0 R >> >> >>"}}), 2, -1,
       text_nums(12, 0), "<< /XObject << /FontX 3 0 R >>  /Font << /F_STAMP 12 0 R >> >>"},
      {"existing ExtGState",
       with_root("", {{3, 0, page + "/Resources << /ExtGState << /G0 6 0 R >> /Font << >> >> >>"}}),
       2, -1, text_nums(12, 13),
       "<< /ExtGState << /G0 6 0 R  /GS_STAMP 13 0 R >> /Font <<  /F_STAMP 12 0 R >> >>"},
  };
  for (const Case &c : cases) {
    PdfDoc doc;
    ASSERT_TRUE(testpdf::load_objects(c.objects, doc)) << c.name;
    PageInfo info;
    info.obj_num = 3;
    info.parent_num = c.parent;
    info.resources_num = c.resources_num;
    EXPECT_EQ(page_resources_text(doc, info, c.nums), c.expected) << c.name;
  }
}

// Resources of a page stamped before: the earlier stamp keeps its names, the
// new one takes the first free ones, looked up inline and in indirect
// category dictionaries alike.
TEST(PageResources, NamesInUseAreNotTakenAgain) {
  struct Case {
    const char *name;
    std::vector<Object> objects;
    StampObjects nums;
    const char *expected;
  };
  const std::string page = "<< /Type /Page /Parent 2 0 R ";
  const Case cases[] = {
      {"stamped once",
       with_root("", {{3, 0, page + "/Resources << /Font << /F_STAMP 5 0 R >> "
                                    "/ExtGState << /GS_STAMP 6 0 R >> >> >>"}}),
       text_nums(12, 13),
       "<< /Font << /F_STAMP 5 0 R  /F_STAMP1 12 0 R >> "
       "/ExtGState << /GS_STAMP 6 0 R  /GS_STAMP1 13 0 R >> >>"},
      {"stamped twice, in any order",
       with_root("", {{3, 0, page + "/Resources << /Font << /F_STAMP1 7 0 R /F_STAMP 5 0 R >> >> >>"}}),
       text_nums(12, 0), "<< /Font << /F_STAMP1 7 0 R /F_STAMP 5 0 R  /F_STAMP2 12 0 R >> >>"},
      {"indirect category",
       with_root("", {{3, 0, page + "/Resources << /XObject 8 0 R >> >>"},
                      {8, 0, "<< /Im_STAMP 4 0 R >>"}}),
       image_nums(0, 14), "<< /XObject <<  /Im_STAMP 4 0 R  /Im_STAMP1 14 0 R >> >>"},
      {"similar names are no clash",
       with_root("", {{3, 0, page + "/Resources << /Font << /F_STAMPED 5 0 R /F_STAMP2 6 0 R >> "
                                    "/XObject << /F_STAMP 4 0 R >> >> >>"}}),
       text_nums(12, 0),
       "<< /Font << /F_STAMPED 5 0 R /F_STAMP2 6 0 R  /F_STAMP 12 0 R >> "
       "/XObject << /F_STAMP 4 0 R >> >>"},
      {"name only inside a value",
       with_root("", {{3, 0, page + "/Resources << /Font << /F1 << /F_STAMP 1 >> >> >> >>"}}),
       text_nums(12, 0), "<< /Font << /F1 << /F_STAMP 1 >>  /F_STAMP 12 0 R >> >>"},
  };
  for (const Case &c : cases) {
    PdfDoc doc;
    ASSERT_TRUE(testpdf::load_objects(c.objects, doc)) << c.name;
    PageInfo info;
    info.obj_num = 3;
    info.parent_num = 2;
    EXPECT_EQ(page_resources_text(doc, info, c.nums), c.expected) << c.name;
  }
}

// The operators use the names the resources give them.
TEST(PageResources, OperatorsUseTheChosenNames) {
  StampNames names;
  names.font = "F_STAMP3";
  names.gs = "GS_STAMP1";
  names.image = "Im_STAMP2";
  StampRequest r{};
  r.kind = STAMP_TEXT;
  r.text = "Hi";
  r.font_size = 12;
  r.opacity = 0.5f;
  ByteBuf ops;
  text_operators(ops, r, 13, 10, 20, names);
  const std::string text(reinterpret_cast<const char *>(ops.data), ops.length);
  EXPECT_NE(text.find("\n/GS_STAMP1 gs\n"), std::string::npos) << text;
  EXPECT_NE(text.find("BT\n/F_STAMP3 12 Tf\n"), std::string::npos) << text;
  ByteBuf image_ops;
  r.kind = STAMP_IMAGE;
  r.image_width = 4;
  r.image_height = 2;
  image_operators(image_ops, r, 13, 10, 20, names);
  const std::string image(reinterpret_cast<const char *>(image_ops.data), image_ops.length);
  EXPECT_NE(image.find("\n/GS_STAMP1 gs\n"), std::string::npos) << image;
  EXPECT_NE(image.find(" cm\n/Im_STAMP2 Do\nQ\n"), std::string::npos) << image;
}

// Resources: the object the resources came from is never changed.
TEST(PageResources, SourceObjectUnchanged) {
  PdfDoc doc;
  ASSERT_TRUE(testpdf::load_objects(with_root("", {{3, 0, "<< /Type /Page /Resources 8 0 R >>"},
                                                   {8, 0, "<< /Font 7 0 R >>"},
                                                   {7, 0, "<< /F1 5 0 R >>"}}),
                                    doc));
  const std::string before(reinterpret_cast<const char *>(doc.data),
                           static_cast<size_t>(doc.length));
  PageInfo info;
  info.obj_num = 3;
  EXPECT_EQ(page_resources_text(doc, info, text_nums(12, 13)),
               "<< /Font <<  /F1 5 0 R  /F_STAMP 12 0 R >>  /ExtGState << /GS_STAMP 13 0 R >> >>");
  EXPECT_EQ(std::string(reinterpret_cast<const char *>(doc.data), static_cast<size_t>(doc.length)),
            before);
}

// Insertion: a category value that is no dictionary gives way to one holding
// the entry, so the key stays single; a missing category goes at the end.
TEST(InsertSubdictEntry, UnusableValues) {
  PdfDoc doc;
  ASSERT_TRUE(testpdf::load_objects(
      with_root("", {{3, 0, "<< /Type /Page >>"}, {7, 0, "<< /F1 5 0 R >>"}, {8, 0, "42"}}), doc));
  struct Case {
    std::string in;
    std::string out;
  };
  const Case cases[] = {
      {"<< /Font <AB> >>", "<< /Font << /F_STAMP 12 0 R >> >>"},
      {"<< /Font 99 0 R >>", "<< /Font << /F_STAMP 12 0 R >> >>"},
      {"<< /Font 99 0 R/X 1>>", "<< /Font << /F_STAMP 12 0 R >>/X 1>>"},
      {"<< /Font 0 0 R >>", "<< /Font << /F_STAMP 12 0 R >> >>"},
      {"<< /Font 8 0 R >>", "<< /Font << /F_STAMP 12 0 R >> >>"},  // not a dictionary
      {"<< /Font [1 2] >>", "<< /Font << /F_STAMP 12 0 R >> >>"},
      {"<< /Font >>", "<< /Font << /F_STAMP 12 0 R >> >>"},
      {"<< /ID <AB>>>", "<< /ID <AB> /Font << /F_STAMP 12 0 R >> >>"},
      {std::string("<< /P (\0\0) >>", 13), std::string("<< /P (\0\0)  /Font << /F_STAMP 12 0 R >> >>", 42)},
      {"<< /Font << /F1 5 0 R", "<< /Font << /F1 5 0 R"},  // closes nowhere: no change
      {"<< /Font", "<< /Font"},
      {"<< /Font 7 0 R /X 1 >>", "<< /Font <<  /F1 5 0 R  /F_STAMP 12 0 R >> /X 1 >>"},
      {"<< /Font 7 0 R>>", "<< /Font <<  /F1 5 0 R  /F_STAMP 12 0 R >>>>"},
      {"<< /Font<</F1 5 0 R>> >>", "<< /Font<</F1 5 0 R /F_STAMP 12 0 R >> >>"},
      // The resources' own /Font, not one nested in another entry.
      {"<< /ExtGState << /G1 << /Font [5 0 R 12] >> >> >>",
       "<< /ExtGState << /G1 << /Font [5 0 R 12] >> >>  /Font << /F_STAMP 12 0 R >> >>"},
      {"<< /ExtGState << /G1 << /Font [5 0 R 12] >> >> /Font << /F1 6 0 R >> >>",
       "<< /ExtGState << /G1 << /Font [5 0 R 12] >> >> /Font << /F1 6 0 R  /F_STAMP 12 0 R >> >>"},
  };
  for (const Case &c : cases) {
    std::string text = c.in;
    insert_subdict_entry(doc, text, "Font", "/F_STAMP 12 0 R");
    EXPECT_EQ(text, c.out) << c.in;
  }
}

// Key lookup: top-level entries only, with a text search when the entries cannot be walked.
TEST(FindDictKey, Table) {
  struct Case {
    std::string text;
    const char *name;
    int32_t expected;
  };
  const Case cases[] = {
      {"<< /A 1 /Contents 2 >>", "Contents", 8},
      {"<< /Annots [<< /Contents (x) >>] /Contents 2 >>", "Contents", 33},
      {"<< /Annots [<< /Contents (x) >>] >>", "Contents", -1},
      {"<< /ContentsX 1 >>", "Contents", -1},
      {"<</Contents[1 0 R]>>", "Contents", 2},
      {"  << /A 1 >>", "A", 5},
      {"<< /A [1 /B 2", "B", 9},     // unclosed value: text search
      {"<< 1 /B 2 >>", "B", 5},      // not a key: text search
      {"[ /B 2 ]", "B", 2},          // not a dictionary: text search
      {"<< /A 1 >> /B 2", "B", -1},  // after the dictionary's end
      {"", "B", -1},
  };
  for (const Case &c : cases) {
    const Bytes s(reinterpret_cast<const uint8_t *>(c.text.data()), c.text.size());
    EXPECT_EQ(find_dict_key(s, 0, static_cast<int32_t>(c.text.size()), c.name), c.expected)
        << c.text;
  }
}

// Removal: the first "/name value" goes, with one space or tab before it.
TEST(StripDictEntry, Table) {
  struct Case {
    const char *in;
    const char *name;
    const char *out;
  };
  const Case cases[] = {
      {"<< /A 1 /Contents 5 0 R /B 2 >>", "Contents", "<< /A 1 /B 2 >>"},
      {"<< /Contents [4 0 R 5 0 R] >>", "Contents", "<< >>"},
      {"<</Contents 5 0 R>>", "Contents", "<<>>"},
      {"<<\t/Contents 5 0 R>>", "Contents", "<<>>"},
      {"<<\n/Contents 5 0 R >>", "Contents", "<<\n >>"},
      {"<< /ContentsX 1 /Contents 2 >>", "Contents", "<< /ContentsX 1 >>"},
      {"<< /Contents 1 0 R /Contents 2 0 R >>", "Contents", "<< >>"},  // every one goes
      {"<< /Length 5 /Filter [/A /B] /Length 6 0 R>>", "Length", "<< /Filter [/A /B]>>"},
      {"<< /Contents 5 0 R /ID <AB>>>", "Contents", "<< /ID <AB>>>"},
      {"<< /Resources << /Font << /F1 6 0 R >> >> /X 1 >>", "Resources", "<< /X 1 >>"},
      {"<< /Contents (a)) >>", "Contents", "<<) >>"},
      {"<< /A /Contents", "Contents", "<< /A /Contents"},  // at the very end
      {"<< /Contents   ", "Contents", "<< /Contents   "},  // only blanks follow
      {"<< /Contents [1 2 /Contents 3 >>", "Contents",
       "<< /Contents [1 2 >>"},  // unclosed first value
      {"<< /Type /Page >>", "Contents", "<< /Type /Page >>"},
      // The dictionary's own entry, not one inside a value before it.
      {"<< /Annots [<< /Contents (note) >>] /Contents 5 0 R >>", "Contents",
       "<< /Annots [<< /Contents (note) >>] >>"},
      {"<< /Annots [<< /Contents (note) >>] >>", "Contents",
       "<< /Annots [<< /Contents (note) >>] >>"},
      {"<< /A << /Resources 1 0 R >> /Resources << >> >>", "Resources",
       "<< /A << /Resources 1 0 R >> >>"},
  };
  for (const Case &c : cases) {
    std::string text = c.in;
    strip_dict_entry(text, c.name);
    EXPECT_EQ(text, c.out) << c.in;
  }
}

// Appending: before the final ">>", trailing blanks dropped, nothing without ">>".
TEST(DictAppendBeforeClose, Table) {
  struct Case {
    std::string in;
    const char *out;
  };
  const Case cases[] = {
      {"<< /A 1 >>", "<< /A 1  /B 2 >>"},
      {"<< /A 1 >>  \r\n\t", "<< /A 1  /B 2 >>"},
      {"<<>>", "<< /B 2 >>"},
      {">>", " /B 2 >>"},
      {"<< /A 1", "<< /A 1"},
      {"<< /A 1 >", "<< /A 1 >"},
      {"<< /A 1 >>\f", "<< /A 1  /B 2 >>"},  // form feed is PDF whitespace too
      {">", ">"},
      {"", ""},
      {"   ", "   "},
  };
  for (const Case &c : cases) {
    std::string text = c.in;
    dict_append_before_close(text, " /B 2");
    EXPECT_EQ(text, c.out) << c.in;
  }
}

// Page rewrite: the documented example, end to end from the page object.
TEST(RewritePageDict, Example) {
  PdfDoc doc;
  ASSERT_TRUE(testpdf::load_objects(
      with_root(
          "",
          {{3, 0,
            "<< /Type /Page /Parent 2 0 R /Contents 5 0 R /Resources << /Font << /F1 6 0 R >> >> "
            "/MediaBox [0 0 612 792] >>"}}),
      doc));
  PageInfo info;
  info.obj_num = 3;
  info.parent_num = 2;
  PageState state;
  state.selected = true;
  state.contents_value = "14 0 R";
  state.resources = page_resources_text(doc, info, text_nums(12, 13));
  EXPECT_EQ(state.resources,
            "<< /Font << /F1 6 0 R  /F_STAMP 12 0 R >>  /ExtGState << /GS_STAMP 13 0 R >> >>");
  EXPECT_EQ(
      rewrite_page_dict(doc, *find_obj(doc, 3), state),
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792]  /Contents 14 0 R  /Resources << /Font "
      "<< /F1 6 0 R  /F_STAMP 12 0 R >>  /ExtGState << /GS_STAMP 13 0 R >> >> >>");
}

// Page rewrite: pages without /Contents, content kept by reference, pages from object streams.
TEST(RewritePageDict, Variants) {
  struct Case {
    const char *name;
    std::vector<Object> objects;
    std::string contents_value;
    std::string expected;
  };
  const std::string member = "3 0 << /Type /Page /Contents 4 0 R /Resources << >> >>\n";
  const Case cases[] = {
      {"no /Contents", with_root("", {{3, 0, "<< /Type /Page >>"}}), "14 0 R",
       "<< /Type /Page  /Contents 14 0 R  /Resources << >> >>"},
      {"kept by reference", with_root("", {{3, 0, "<< /Type /Page /Contents [4 0 R 5 0 R] >>"}}),
       "[9 0 R 4 0 R 5 0 R 8 0 R]",
       "<< /Type /Page  /Contents [9 0 R 4 0 R 5 0 R 8 0 R]  /Resources << >> >>"},
      {"object stream member",
       {{1, 0, "<< /Type /Catalog /Pages 2 0 R >>"},
        {2, 0, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>"},
        {6, 0, testpdf::flate_stream("/Type /ObjStm /N 1 /First 4", member)}},
       "14 0 R",
       "<< /Type /Page  /Contents 14 0 R  /Resources << >> >>"},
      // Regression: a member text ending in a comment took no additions, so the page lost its
      // content.
      {"object stream member with trailing comment",
       {{1, 0, "<< /Type /Catalog /Pages 2 0 R >>"},
        {2, 0, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>"},
        {6, 0,
         testpdf::flate_stream("/Type /ObjStm /N 2 /First 9",
                               "3 0 4 39 << /Type /Page /Contents 4 0 R >>\n% 4\n\n[1 2]")}},
       "14 0 R",
       "<< /Type /Page  /Contents 14 0 R  /Resources << >> >>"},
      // NUL bytes are data: they neither cut the copy short nor change.
      {"NUL inside the dictionary",
       with_root("", {{3, 0, std::string("<< /Type /Page /A 1\0 /Contents 5 0 R >>", 39)}}),
       "14 0 R", std::string("<< /Type /Page /A 1\0  /Contents 14 0 R  /Resources << >> >>", 59)},
      {"NUL inside a string",
       with_root("", {{3, 0, std::string("<< /Type /Page /T (\0>>) /Contents 5 0 R >>", 42)}}),
       "14 0 R",
       std::string("<< /Type /Page /T (\0>>)  /Contents 14 0 R  /Resources << >> >>", 62)},
      // The last value a hex string: the dictionary closes after its '>'.
      {"hex string at the end",
       with_root("", {{3, 0, "<< /Type /Page /Contents 5 0 R /ID <AB>>>"}}), "14 0 R",
       "<< /Type /Page /ID <AB> /Contents 14 0 R  /Resources << >> >>"},
      {"untyped page gains /Type", with_root("", {{3, 0, "<< /Contents 5 0 R >>"}}), "14 0 R",
       "<<  /Contents 14 0 R  /Resources << >>  /Type /Page >>"},
      {"inline annotation with /Contents",
       with_root("", {{3, 0, "<< /Type /Page /Annots [<< /Contents (hi) >>] /Contents 5 0 R >>"}}),
       "14 0 R",
       "<< /Type /Page /Annots [<< /Contents (hi) >>]  /Contents 14 0 R  /Resources << >> >>"},
  };
  for (const Case &c : cases) {
    PdfDoc doc;
    ASSERT_TRUE(testpdf::load_objects(c.objects, doc)) << c.name;
    const ObjEntry *page = find_obj(doc, 3);
    ASSERT_NE(page, nullptr) << c.name;
    PageState state;
    state.contents_value = c.contents_value;
    state.resources = "<< >>";
    EXPECT_EQ(rewrite_page_dict(doc, *page, state), c.expected) << c.name;
  }
}

// Copies: the whole dictionary, every byte as it stands, or "" when it does not close.
TEST(DictCopyAt, Table) {
  struct Case {
    std::string text;
    int32_t pos;
    std::string expected;
  };
  const std::string palette("<< /CS [/Indexed /DeviceRGB 1 (\0\0\0\377\377\377)] >>", 42);
  const Case cases[] = {
      {"x << /A << /B 2 >> >> y", 2, "<< /A << /B 2 >> >>"},
      {"<< /ID <AB>>> y", 0, "<< /ID <AB>>>"},
      {palette + " y", 0, palette},
      {"<< /A", 0, ""},
      {"<< >>", -1, ""},
  };
  for (const Case &c : cases) EXPECT_EQ(dict_copy_at(bytes_of(c.text), c.pos), c.expected) << c.text;
}
