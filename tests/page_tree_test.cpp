// The page list: the walk of the page tree and its fallback scan, page
// boxes and what a page inherits, the requested-page check, and the whole
// reading path over damaged real-world files.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "common/error.h"
#include "pdf/load.h"
#include "pdf/page_tree.h"
#include "pdf/pdf_doc.h"
#include "pdf/stamp_request.h"
#if !defined(_WIN32)
#include "support/e2e_oracles.h"  // the oracles run as child processes: POSIX only
#endif
#include "support/pdf_builder.h"

namespace {

using testpdf::Object;

struct Paged {
  int loaded = 0;
  int result = 0;
  std::string error;
  std::string path;
  PdfDoc doc;
};

// Loads the bytes from a temporary file and locates the pages.
Paged paged(const std::string &bytes) {
  Paged out;
  out.path = "pages.pdf";
  clear_error();
  const Bytes in(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size());
  out.loaded = load_document_bytes(in, out.path.c_str(), out.doc);
  if (out.loaded) out.result = locate_pages(out.path.c_str(), out.doc);
  out.error = error_text();
  return out;
}

Paged paged(const std::vector<Object> &objects, int root = 1) {
  return paged(testpdf::build(objects, root));
}

std::vector<int32_t> page_nums(const PdfDoc &doc) {
  std::vector<int32_t> nums;
  for (const PageInfo &p : doc.page_infos) nums.push_back(p.obj_num);
  return nums;
}

std::vector<int32_t> parent_nums(const PdfDoc &doc) {
  std::vector<int32_t> nums;
  for (const PageInfo &p : doc.page_infos) nums.push_back(p.parent_num);
  return nums;
}

std::string page(int parent, const std::string &extra = "") {
  return "<< /Type /Page /Parent " + std::to_string(parent) + " 0 R " + extra + " >>";
}

std::string node(const std::string &kids, const std::string &extra = "") {
  return "<< /Type /Pages /Kids [" + kids + "] " + extra + " >>";
}

std::string refs(const std::vector<int> &nums) {
  std::string s;
  for (const int n : nums) s += std::to_string(n) + " 0 R ";
  return s;
}

// The builder's xref table has an entry per number: huge numbers need none.
testpdf::Options without_xref() {
  testpdf::Options o;
  o.write_xref = false;
  return o;
}

const Object kCatalog{1, 0, "<< /Type /Catalog /Pages 2 0 R >>"};

struct Box {
  double x, y, w, h;
};

void expect_box(const PageInfo &p, const Box &b, const std::string &what) {
  EXPECT_DOUBLE_EQ(p.box_x, b.x) << what;
  EXPECT_DOUBLE_EQ(p.box_y, b.y) << what;
  EXPECT_DOUBLE_EQ(p.box_w, b.w) << what;
  EXPECT_DOUBLE_EQ(p.box_h, b.h) << what;
}

const Box kA4{0, 0, 595, 842};

// Returns the one page of the tree 2 > 5 > 3 whose dictionaries end with the
// extras; object 7 (the integer -90) is there for references.
PageInfo three_level_page(const std::string &root_extra, const std::string &mid_extra,
                          const std::string &page_extra) {
  const Paged p = paged({kCatalog, {2, 0, node("5 0 R", root_extra)}, {5, 0, node("3 0 R", mid_extra)},
                         {3, 0, page(5, page_extra)}, {7, 0, "-90"}});
  EXPECT_EQ(p.result, 1) << p.error;
  EXPECT_EQ(p.doc.page_infos.size(), 1u);
  return p.doc.page_infos.empty() ? PageInfo{} : p.doc.page_infos[0];
}

}  // namespace

// ---------------------------------------------------------------------------
// Page boxes: which key and which occurrence gives the box, and how numbers
// in the array are read.
TEST(PageBox, KeysAndNumbers) {
  struct Case { const char *what; std::string entries; Box box; };
  const Case cases[] = {
      {"media box", "/MediaBox [0 0 612 792]", {0, 0, 612, 792}},
      {"crop box clipped to the media box", "/CropBox [10 10 300 400] /MediaBox [0 0 200 612]", {10, 10, 190, 390}},
      {"crop box outside the media box", "/CropBox [700 700 800 800] /MediaBox [0 0 612 792]", {0, 0, 612, 792}},
      {"crop box alone, clipped to the default", "/CropBox [10 20 110 900]", {10, 20, 100, 822}},
      {"a repeated key counts by its last occurrence", "/MediaBox [0 0 100 100] /MediaBox [0 0 200 200]", {0, 0, 200, 200}},
      {"crop box wherever it stands", "/MediaBox [0 0 612 792] /CropBox [10 10 300 400]", {10, 10, 290, 390}},
      {"degenerate crop box", "/CropBox [0 0 0 0] /MediaBox [0 0 612 792]", {0, 0, 612, 792}},
      {"zero-width crop box", "/CropBox [10 10 10 400] /MediaBox [0 0 612 792]", {0, 0, 612, 792}},
      {"corners normalised", "/MediaBox [612 792 0 0]", {0, 0, 612, 792}},
      {"corners normalised per axis", "/MediaBox [0 792 612 0]", {0, 0, 612, 792}},
      {"negative corners", "/MediaBox [-100 -200 100 200]", {-100, -200, 200, 400}},
      {"three numbers ignored", "/MediaBox [0 0 612]", kA4},
      {"three numbers, then a usable occurrence", "/MediaBox [0 0 612] /MediaBox [0 0 100 100]", {0, 0, 100, 100}},
      {"leading dot", "/MediaBox [0 0 .5 612]", {0, 0, 0.5, 612}},
      {"sign then dot", "/MediaBox [-.5 0 100 200]", {-0.5, 0, 100.5, 200}},
      {"letters end a number", "/MediaBox [0 0 612abc 792]", {0, 0, 612, 792}},
      {"fractions", "/MediaBox [0 0 612.5 792.25]", {0, 0, 612.5, 792.25}},
      {"no exponent", "/MediaBox [0 0 1e3 500]", {0, 0, 1, 3}},
      {"a lone sign reads as zero", "/MediaBox [0 0 + 792]", kA4},
      {"plus signs", "/MediaBox [+10 0 +612 792]", {10, 0, 602, 792}},
      {"the array ends at ]", "/MediaBox [0 0 612] /UserUnit 792", kA4},
      {"comments inside the array", "/MediaBox [0 % x\n 0 612 % y\n 792]", {0, 0, 612, 792}},
      {"comment before the array", "/MediaBox % x\n[0 0 612 792]", {0, 0, 612, 792}},
      {"no space", "/MediaBox[0 0 612 792]", {0, 0, 612, 792}},
      {"no closing bracket needed", "/MediaBox [0 0 612 792", {0, 0, 612, 792}},
      {"a reference to an array", "/MediaBox 9 0 R", {0, 0, 50, 50}},
      {"a reference to a missing object", "/MediaBox 99 0 R", kA4},
      {"boxes nested in values are not the page's", "/X << /MediaBox [0 0 100 200] /CropBox [1 2 3 4] >>", kA4},
      {"longer key name", "/MediaBoxX [0 0 100 100]", kA4},
      {"no box", "", kA4},
  };
  for (const Case &c : cases) {
    const Paged p = paged({kCatalog, {2, 0, node("3 0 R")}, {3, 0, page(2, c.entries)},
                           {9, 0, "[0 0 50 50]"}});
    ASSERT_EQ(p.result, 1) << c.what << ": " << p.error;
    ASSERT_EQ(p.doc.page_infos.size(), 1u) << c.what;
    expect_box(p.doc.page_infos[0], c.box, c.what);
  }
}

TEST(PageBox, ReportsWhetherABoxWasFound) {
  const Paged p = paged({kCatalog, {2, 0, node("3 0 R 4 0 R")},
                         {3, 0, page(2, "/MediaBox [0 0 10 20]")}, {4, 0, page(2)}});
  ASSERT_EQ(p.result, 1) << p.error;
  double x = -1, y = -1, w = -1, h = -1;
  EXPECT_TRUE(page_box(p.doc, *find_obj(p.doc, 3), &x, &y, &w, &h));
  EXPECT_DOUBLE_EQ(w, 10);
  EXPECT_DOUBLE_EQ(h, 20);
  x = y = w = h = -1;
  EXPECT_FALSE(page_box(p.doc, *find_obj(p.doc, 4), &x, &y, &w, &h));
  EXPECT_DOUBLE_EQ(w, -1);  // untouched
}

// ---------------------------------------------------------------------------
// Inheritance: a page without a usable box of its own takes the nearest
// ancestor's; a page without /Resources records the nearest ancestor holding them.
TEST(PageInheritance, BoxFromNearestAncestor) {
  struct Case { const char *what; std::string root_extra; std::string mid_extra; std::string page_extra; Box box; };
  const Case cases[] = {
      {"parent's media box", "", "/MediaBox [0 0 100 200]", "", {0, 0, 100, 200}},
      {"grandparent's media box", "/MediaBox [0 0 300 400]", "", "", {0, 0, 300, 400}},
      {"nearest wins", "/MediaBox [0 0 300 400]", "/MediaBox [0 0 100 200]", "", {0, 0, 100, 200}},
      {"ancestor's crop box before its media box", "", "/MediaBox [0 0 100 200] /CropBox [5 5 50 60]", "", {5, 5, 45, 55}},
      {"own media box clips the inherited crop box", "", "/CropBox [5 5 50 60]", "/MediaBox [0 0 10 10]", {5, 5, 5, 5}},
      {"own crop box clipped to the inherited media box", "/MediaBox [0 0 300 400]", "", "/CropBox [-10 10 100 500]", {0, 10, 100, 390}},
      {"nearest crop box, farther media box", "/CropBox [1 1 50 50] /MediaBox [0 0 300 400]", "/CropBox [2 2 60 60]", "", {2, 2, 58, 58}},
      {"disjoint crop box gives the media box", "", "/CropBox [500 500 600 600]", "/MediaBox [0 0 100 100]", {0, 0, 100, 100}},
      {"degenerate own box inherits", "", "/MediaBox [0 0 100 200]", "/MediaBox [0 0 0 0]", {0, 0, 100, 200}},
      {"own three numbers inherit", "/MediaBox [0 0 300 400]", "", "/MediaBox [0 0 1]", {0, 0, 300, 400}},
      {"no box anywhere", "", "", "", kA4},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    const PageInfo info = three_level_page(c.root_extra, c.mid_extra, c.page_extra);
    EXPECT_EQ(info.parent_num, 5);
    expect_box(info, c.box, c.what);
  }
}

// /Rotate: inherited like the boxes, taken modulo 360; a value that is no
// multiple of 90 shows the page unrotated and one that is no integer is
// ignored, as poppler renders them.
TEST(PageInheritance, Rotate) {
  struct Case { const char *what; std::string root_extra; std::string mid_extra; std::string page_extra; int rotate; };
  const Case cases[] = {
      {"none", "", "", "", 0},
      {"own", "", "", "/Rotate 90", 90},
      {"negative", "", "", "/Rotate -90", 270},
      {"above a turn", "", "", "/Rotate 450", 90},
      {"a whole turn", "", "", "/Rotate 360", 0},
      {"not a multiple of 90", "", "/Rotate 180", "/Rotate 45", 0},
      {"not an integer", "", "/Rotate 180", "/Rotate 90.0", 180},
      {"not a number", "", "/Rotate 180", "/Rotate /R", 180},
      {"by reference", "", "", "/Rotate 7 0 R", 270},
      {"parent's", "/Rotate 90", "/Rotate 270", "", 270},
      {"grandparent's", "/Rotate 90", "", "", 90},
      {"own zero beats inherited", "/Rotate 90", "", "/Rotate 0", 0},
      {"nested in a value", "", "", "/X << /Rotate 90 >>", 0},
  };
  for (const Case &c : cases)
    EXPECT_EQ(three_level_page(c.root_extra, c.mid_extra, c.page_extra).rotate, c.rotate) << c.what;
}

TEST(PageInheritance, ResourcesFromNearestAncestor) {
  struct Case { const char *what; std::string root_extra; std::string mid_extra; std::string page_extra; int32_t resources; };
  const Case cases[] = {
      {"own resources", "/Resources << >>", "/Resources << >>", "/Resources << /Font << >> >>", -1},
      {"parent's", "/Resources << >>", "/Resources << /Font << >> >>", "", 5},
      {"grandparent's", "/Resources << >>", "", "", 2},
      {"none anywhere", "", "", "", -1},
      {"a reference counts too", "", "/Resources 7 0 R", "", 5},
  };
  for (const Case &c : cases)
    EXPECT_EQ(three_level_page(c.root_extra, c.mid_extra, c.page_extra).resources_num, c.resources) << c.what;
}

TEST(PageInheritance, PagesFoundByTheScanFollowParentLinks) {
  // The catalog names no tree, so the pages come from the scan; their
  // ancestors are found through /Parent, which may loop.
  const Paged p = paged({{1, 0, "<< /Type /Catalog >>"},
                         {2, 0, node("3 0 R", "/MediaBox [0 0 100 200] /Resources << >> /Parent 6 0 R")},
                         {3, 0, page(2)},
                         {4, 0, page(5)},
                         {5, 0, "<< /Type /Pages /Parent 6 0 R /CropBox [1 1 50 50] /Rotate 90 >>"},
                         {6, 0, "<< /Type /Pages /Parent 5 0 R /MediaBox [0 0 7 8] /Rotate 180 >>"},
                         {8, 0, page(8)}});
  ASSERT_EQ(p.result, 1) << p.error;
  EXPECT_EQ(page_nums(p.doc), (std::vector<int32_t>{3, 4, 8}));
  EXPECT_EQ(parent_nums(p.doc), (std::vector<int32_t>{-1, -1, -1}));
  expect_box(p.doc.page_infos[0], {1, 1, 49, 49}, "parent's media box, a farther node's crop box");
  EXPECT_EQ(p.doc.page_infos[0].resources_num, 2);
  expect_box(p.doc.page_infos[1], {1, 1, 6, 7}, "across a /Parent loop, crop and media boxes apart");
  EXPECT_EQ(p.doc.page_infos[1].rotate, 90);
  expect_box(p.doc.page_infos[2], kA4, "its own parent");
}

// ---------------------------------------------------------------------------
// Tree walk: document order, parent numbers, and how /Kids arrays are read.
TEST(PageTree, DepthFirstLeftToRight) {
  const Paged p = paged({kCatalog,
                         {2, 0, node("10 0 R 3 0 R 11 0 R")},
                         {10, 0, node("4 0 R 5 0 R")},
                         {11, 0, node("6 0 R")},
                         {6, 0, page(11)},
                         {5, 0, page(10)},
                         {4, 0, page(10)},
                         {3, 0, page(2)}});
  ASSERT_EQ(p.result, 1) << p.error;
  EXPECT_EQ(page_nums(p.doc), (std::vector<int32_t>{4, 5, 3, 6}));
  EXPECT_EQ(parent_nums(p.doc), (std::vector<int32_t>{10, 10, 2, 11}));
}

TEST(PageTree, RootThatIsAPage) {
  const Paged p = paged({kCatalog, {2, 0, "<< /Type /Page /MediaBox [0 0 1 2] >>"}, {3, 0, page(2)}});
  ASSERT_EQ(p.result, 1) << p.error;
  EXPECT_EQ(page_nums(p.doc), (std::vector<int32_t>{2}));
  EXPECT_EQ(parent_nums(p.doc), (std::vector<int32_t>{-1}));
}

TEST(PageTree, KidsArrays) {
  struct Case { const char *what; std::string node_dict; std::vector<int32_t> pages; };
  // Pages 3, 4, 5 exist; an empty expectation means the walk found nothing
  // and the scan lists all three.
  const Case cases[] = {
      {"references", "<< /Kids [3 0 R 4 0 R 5 0 R] >>", {3, 4, 5}},
      {"no spaces", "<< /Kids[3 0 R 4 0 R]>>", {3, 4}},
      {"comments between", "<< /Kids [ 3 0 R % 9 0 R\n 5 0 R ] >>", {3, 5}},
      {"bare numbers pair up as number and generation", "<< /Kids [3 4 5] >>", {3, 5}},
      {"object 0 is skipped", "<< /Kids [0 0 R 4 0 R] >>", {4}},
      {"a sign is passed over", "<< /Kids [-3 0 R] >>", {3}},
      {"other bytes are passed over", "<< /Kids [/X (y) 4 0 R] >>", {4}},
      {"a kid not in the index", "<< /Kids [99 0 R 5 0 R] >>", {5}},
      {"the same kid twice", "<< /Kids [3 0 R 3 0 R] >>", {3, 3}},
      {"a repeated /Kids counts by its last occurrence", "<< /Kids [4 0 R] /Kids 7 0 R /Kids [5 0 R] >>", {5}},
      {"/Kids naming an array object", "<< /Kids 8 0 R >>", {4, 3}},
      {"/Kids naming a dictionary object", "<< /Kids 7 0 R >>", {}},
      {"no /Kids", "<< /Type /Pages >>", {}},
      {"empty array", "<< /Kids [] >>", {}},
      {"unterminated array", "<< /Kids [3 0 R 4 0 R >>", {3, 4}},
      {"not a pages node, still walked", "<< /Type /Font /Kids [5 0 R] >>", {5}},
  };
  for (const Case &c : cases) {
    const Paged p = paged({kCatalog, {2, 0, c.node_dict}, {3, 0, page(2)}, {4, 0, page(2)},
                           {5, 0, page(2)}, {7, 0, "<< /Kids [5 0 R] >>"}, {8, 0, "[4 0 R 3 0 R]"}});
    ASSERT_EQ(p.result, 1) << c.what << ": " << p.error;
    if (c.pages.empty()) {
      EXPECT_EQ(page_nums(p.doc), (std::vector<int32_t>{3, 4, 5})) << c.what;
      EXPECT_EQ(parent_nums(p.doc), (std::vector<int32_t>{-1, -1, -1})) << c.what;
    } else {
      EXPECT_EQ(page_nums(p.doc), c.pages) << c.what;
      EXPECT_EQ(parent_nums(p.doc), std::vector<int32_t>(c.pages.size(), 2)) << c.what;
    }
  }
}

// What a kid is, as readers decide: /Type /Page makes a page; otherwise a
// dictionary is a node when it has /Kids and a page when it has none.
TEST(PageTree, KindsOfKid) {
  struct Case { const char *what; std::string kid; std::vector<int32_t> pages; std::vector<int32_t> parents; };
  // Object 4 is a page below 3; when the tree yields nothing the scan finds it alone.
  const Case cases[] = {
      {"typed page", "<< /Type /Page >>", {3}, {2}},
      {"untyped, without /Kids: a page", "<< /MediaBox [0 0 10 10] >>", {3}, {2}},
      {"untyped, with /Kids: a node", "<< /Kids [4 0 R] >>", {4}, {3}},
      {"another type, without /Kids: a page", "<< /Type /PageX >>", {3}, {2}},
      {"typed node", "<< /Type /Pages /Kids [4 0 R] >>", {4}, {3}},
      {"typed page with /Kids: a page", "<< /Type /Page /Kids [4 0 R] >>", {3}, {2}},
      {"/Kids nested in a value only: a page", "<< /X << /Kids [4 0 R] >> >>", {3}, {2}},
      {"not a dictionary", "[4 0 R]", {4}, {-1}},
      {"an untyped stream", testpdf::stream("", "q Q"), {4}, {-1}},
  };
  for (const Case &c : cases) {
    const Paged p = paged({kCatalog, {2, 0, node("3 0 R")}, {3, 0, c.kid}, {4, 0, page(3)}});
    ASSERT_EQ(p.result, 1) << c.what << ": " << p.error;
    EXPECT_EQ(page_nums(p.doc), c.pages) << c.what;
    EXPECT_EQ(parent_nums(p.doc), c.parents) << c.what;
  }
}

// A dictionary written inline in /Kids becomes an object of its own, numbered
// above every number in use, and its holder names it by reference instead.
TEST(PageTree, InlineKidsGetObjectsOfTheirOwn) {
  struct Case { const char *what; std::vector<Object> objects; std::vector<int32_t> pages; std::vector<int32_t> parents; };
  // The builder's objects end at 9, so the new ones are 10, 11, ...
  const Object filler{9, 0, "null"};
  const Case cases[] = {
      {"inline page among references",
       {kCatalog, {2, 0, node("3 0 R << /Type /Page /MediaBox [0 0 10 20] >> 3 0 R")}, {3, 0, page(2)}, filler},
       {3, 10, 3}, {2, 2, 2}},
      {"untyped inline page with a stale /Parent",
       {kCatalog, {2, 0, node("<< /Parent 7 0 R /MediaBox [0 0 10 20] >>")}, filler}, {10}, {2}},
      {"inline page whose /Parent value runs into its end",
       {kCatalog, {2, 0, node("<< /Type /Page /Parent <ab>>")}, filler}, {10}, {2}},
      {"inline node holding an inline page",
       {kCatalog, {2, 0, node("<< /Kids [<< /Type /Page >>] >>")}, filler}, {11}, {10}},
      {"in an array object named by /Kids",
       {kCatalog, {2, 0, "<< /Type /Pages /Kids 8 0 R >>"}, {8, 0, "[<< /Type /Page >> 3 0 R]"}, {3, 0, page(2)}, filler},
       {10, 3}, {2, 2}},
      {"in a shared node: one object",
       {kCatalog, {2, 0, node("5 0 R 5 0 R")}, {5, 0, node("<< /Type /Page >>")}, filler}, {10, 10}, {5, 5}},
      {"in a node inside an object stream",
       {{6, 0, testpdf::object_stream({{1, "<< /Type /Catalog /Pages 2 0 R >>"}, {2, node("<< /Type /Page >>")}})}, filler},
       {10}, {2}},
  };
  for (const Case &c : cases) {
    const Paged p = paged(c.objects);
    ASSERT_EQ(p.result, 1) << c.what << ": " << p.error;
    EXPECT_EQ(page_nums(p.doc), c.pages) << c.what;
    EXPECT_EQ(parent_nums(p.doc), c.parents) << c.what;
    EXPECT_EQ(p.doc.max_obj_num, *std::max_element(c.pages.begin(), c.pages.end())) << c.what;
    for (const PageInfo &info : p.doc.page_infos) {
      const ObjEntry *e = find_obj(p.doc, info.obj_num);
      ASSERT_NE(e, nullptr) << c.what;
      if (info.obj_num < 10) continue;
      const std::string text(reinterpret_cast<const char *>(e->text), static_cast<size_t>(e->text_len));
      EXPECT_NE(text.find("/Parent " + std::to_string(info.parent_num) + " 0 R"), std::string::npos)
          << c.what << ": " << text;
      EXPECT_EQ(text.find("7 0 R"), std::string::npos) << c.what << ": " << text;
    }
  }
  const Paged p = paged(cases[0].objects);
  expect_box(p.doc.page_infos[1], {0, 0, 10, 20}, "the inline page's own box");
  ASSERT_EQ(p.doc.body_edits.size(), 1u);
  EXPECT_EQ(p.doc.body_edits[0].num, 2);
  EXPECT_EQ(p.doc.body_edits[0].text, "10 0 R");
}

TEST(PageTree, FlatArraysOfManyKidsKeepEveryPage) {
  // Writers commonly list every page of a document in one /Kids array.
  std::vector<Object> objects = {kCatalog};
  std::vector<int> kids;
  for (int n = 3; n < 3 + 3000; ++n) {
    kids.push_back(n);
    objects.push_back({n, 0, page(2)});
  }
  objects.push_back({2, 0, node(refs(kids))});
  const Paged p = paged(objects);
  ASSERT_EQ(p.result, 1) << p.error;
  ASSERT_EQ(p.doc.page_infos.size(), kids.size());
  for (size_t i = 0; i < kids.size(); ++i) EXPECT_EQ(p.doc.page_infos[i].obj_num, kids[i]) << i;
}

TEST(PageTree, TreeInsideObjectStreams) {
  const Paged p = paged({{9, 0, testpdf::object_stream({{1, "<< /Type /Catalog /Pages 2 0 R >>"},
                                                        {2, node("4 0 R 3 0 R")},
                                                        {3, page(2, "/MediaBox [0 0 30 40]")}})},
                         {4, 0, page(2)}});
  ASSERT_EQ(p.result, 1) << p.error;
  EXPECT_EQ(page_nums(p.doc), (std::vector<int32_t>{4, 3}));
  expect_box(p.doc.page_infos[1], {0, 0, 30, 40}, "page in an object stream");
}

// The depth limit: the root is depth 0 and depth 64 is the deepest visited.
TEST(PageTree, DepthLimit) {
  // A chain of nodes 100, 101, ... where node 100 + d stands at depth d.
  const auto chain = [](int page_depth, bool shallow_page) {
    std::vector<Object> objects = {{1, 0, "<< /Type /Catalog /Pages 100 0 R >>"}};
    for (int d = 0; d < page_depth; ++d) {
      std::string kids = std::to_string(101 + d) + " 0 R";
      if (d == 0 && shallow_page) kids += " 3 0 R";
      objects.push_back({100 + d, 0, node(kids)});
    }
    objects.push_back({100 + page_depth, 0, page(99 + page_depth)});
    if (shallow_page) objects.push_back({3, 0, page(100)});
    return paged(objects);
  };
  const Paged at64 = chain(64, false);
  ASSERT_EQ(at64.result, 1) << at64.error;
  EXPECT_EQ(page_nums(at64.doc), (std::vector<int32_t>{164}));
  EXPECT_EQ(parent_nums(at64.doc), (std::vector<int32_t>{163}));

  const Paged at65 = chain(65, false);  // lost to the walk, found by the scan
  ASSERT_EQ(at65.result, 1) << at65.error;
  EXPECT_EQ(page_nums(at65.doc), (std::vector<int32_t>{165}));
  EXPECT_EQ(parent_nums(at65.doc), (std::vector<int32_t>{-1}));

  const Paged mixed = chain(65, true);  // the walk found one page: no scan
  ASSERT_EQ(mixed.result, 1) << mixed.error;
  EXPECT_EQ(page_nums(mixed.doc), (std::vector<int32_t>{3}));
}

// ---------------------------------------------------------------------------
// The fallback scan: when the tree yields nothing, every page object in index order.
TEST(PageScanFallback, WhenTheTreeCannotBeWalked) {
  struct Case { const char *what; std::string catalog; int root; };
  const Case cases[] = {
      {"/Pages names a missing object", "<< /Type /Catalog /Pages 99 0 R >>", 1},
      {"/Pages is object 0", "<< /Type /Catalog /Pages 0 0 R >>", 1},
      {"/Pages without a number", "<< /Type /Catalog /Pages /X >>", 1},
      {"catalog without /Pages", "<< /Type /Catalog >>", 1},
      {"no catalog at all", "<< /Type /Other >>", 0},
      {"root names a missing object", "<< /Type /Other >>", 50},
  };
  for (const Case &c : cases) {
    const std::vector<Object> objects = {
        {1, 0, c.catalog},
        {5, 0, page(2, "/MediaBox [0 0 5 5]")},
        {8, 0, testpdf::object_stream({{4, page(2)}, {6, "<< /Type /Font >>"}})},
        {3, 0, page(2)},
        {2, 0, "<< /Type /Pages /Count 3 >>"},
    };
    const Paged p = paged(objects, c.root);
    ASSERT_EQ(p.result, 1) << c.what << ": " << p.error;
    // In number order; the object stream's members, which nothing lists or
    // refers to, are not part of the document.
    EXPECT_EQ(page_nums(p.doc), (std::vector<int32_t>{3, 5})) << c.what;
    EXPECT_EQ(parent_nums(p.doc), (std::vector<int32_t>{-1, -1})) << c.what;
    expect_box(p.doc.page_infos[1], {0, 0, 5, 5}, c.what);
  }
}

TEST(PageScanFallback, PagesIsTheCatalogsOwnKey) {
  // The catalog has no /Pages of its own; another object's /Pages is not
  // the document's page tree, so the pages are found by the scan.
  const Paged p = paged({{1, 0, "<< /Type /Catalog >>"},
                         {7, 0, "<< /Pages 2 0 R >>"},
                         {2, 0, node("4 0 R 3 0 R")},
                         {3, 0, page(2)},
                         {4, 0, page(2)}});
  ASSERT_EQ(p.result, 1) << p.error;
  EXPECT_EQ(page_nums(p.doc), (std::vector<int32_t>{3, 4}));
  EXPECT_EQ(parent_nums(p.doc), (std::vector<int32_t>{-1, -1}));
}

TEST(PageScanFallback, WhereTheCatalogsPagesIsSearched) {
  struct Case { const char *what; std::vector<Object> objects; int root; bool walked; };
  const Object tree{2, 0, node("3 0 R")};
  const Object leaf{3, 0, page(2)};
  const Case cases[] = {
      {"catalog without dictionary", {{4, 0, "<< /Pages 2 0 R >>"}, {1, 0, "null"}, tree, leaf}, 1, false},
      {"catalog stream: its dictionary only",
       {{1, 0, testpdf::stream("/Type /Catalog", "/Pages 2 0 R")}, tree, leaf}, 1, false},
      {"catalog in an object stream: its own text only",
       {{9, 0, testpdf::object_stream({{1, "<< /Type /Catalog >>"}})}, {7, 0, "<< /Pages 2 0 R >>"}, tree, leaf}, 1, false},
      {"first /Pages after the catalog's dictionary", {{1, 0, "<< /Type /Catalog /Pages 2 0 R /Pages 5 0 R >>"}, tree, leaf}, 1, true},
  };
  for (const Case &c : cases) {
    const Paged p = paged(c.objects, c.root);
    ASSERT_EQ(p.result, 1) << c.what << ": " << p.error;
    EXPECT_EQ(page_nums(p.doc), (std::vector<int32_t>{3})) << c.what;
    EXPECT_EQ(parent_nums(p.doc), (std::vector<int32_t>{c.walked ? 2 : -1})) << c.what;
  }
}

TEST(PageScanFallback, NoPageAnywhere) {
  struct Case { const char *what; std::string text; };
  const Case cases[] = {
      {"no page objects", testpdf::build({kCatalog, {2, 0, node("")}}, 1)},
      {"only a page above the object number limit",
       testpdf::build({kCatalog, {2, 0, node("8388608 0 R")}, {8388608, 0, page(2)}}, 1, without_xref())},
      {"a kid that is no dictionary", testpdf::build({kCatalog, {2, 0, node("3 0 R")}, {3, 0, "[1 2 3]"}}, 1)},
  };
  for (const Case &c : cases) {
    const Paged p = paged(c.text);
    ASSERT_EQ(p.loaded, 1) << c.what;
    EXPECT_EQ(p.result, 0) << c.what;
    EXPECT_EQ(p.error, "could not locate page tree in " + p.path) << c.what;
  }
}

// ---------------------------------------------------------------------------
// Cycles: a node already on the walk's path is not entered again, and
// hostile shapes finish quickly.
TEST(PageTreeCycles, NodesOnThePathAreNotReentered) {
  struct Case { const char *what; std::vector<Object> objects; std::vector<int32_t> pages; std::vector<int32_t> parents; };
  const Case cases[] = {
      {"root lists itself", {kCatalog, {2, 0, node("2 0 R 3 0 R 2 0 R")}, {3, 0, page(2)}}, {3}, {2}},
      {"back to the root", {kCatalog, {2, 0, node("10 0 R")}, {10, 0, node("2 0 R 3 0 R")}, {3, 0, page(10)}}, {3}, {10}},
      {"two nodes pointing at each other",
       {kCatalog, {2, 0, node("10 0 R 4 0 R")}, {10, 0, node("11 0 R 2 0 R")}, {11, 0, node("10 0 R 3 0 R")},
        {3, 0, page(11)}, {4, 0, page(2)}},
       {3, 4}, {11, 2}},
      {"a shared node off the path is walked again",
       {kCatalog, {2, 0, node("10 0 R 10 0 R")}, {10, 0, node("3 0 R")}, {3, 0, page(10)}}, {3, 3}, {10, 10}},
  };
  for (const Case &c : cases) {
    const Paged p = paged(c.objects);
    ASSERT_EQ(p.result, 1) << c.what << ": " << p.error;
    EXPECT_EQ(page_nums(p.doc), c.pages) << c.what;
    EXPECT_EQ(parent_nums(p.doc), c.parents) << c.what;
  }
}

TEST(PageTreeCycles, HostileShapesFinishQuickly) {
  struct Case { const char *what; std::vector<Object> objects; };
  std::vector<Case> cases;
  {
    std::vector<int> self(1000, 2);
    cases.push_back({"a node listing itself 1000 times", {kCatalog, {2, 0, node(refs(self) + "3 0 R")}, {3, 0, page(2)}}});
  }
  {
    // Sixty levels, each node listing the next one twice and the root:
    // without limits, 2^60 paths.
    std::vector<Object> objects = {kCatalog};
    for (int d = 0; d < 60; ++d) {
      const int self = d == 0 ? 2 : 100 + d;
      objects.push_back({self, 0, node(refs({101 + d, 101 + d, 2}))});
    }
    objects.push_back({160, 0, node(refs({3, 2, 3}))});
    objects.push_back({3, 0, page(160)});
    cases.push_back({"deep tree of shared, cyclic nodes", objects});
  }
  for (const Case &c : cases) {
    const auto start = std::chrono::steady_clock::now();
    const Paged p = paged(c.objects);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ASSERT_EQ(p.result, 1) << c.what << ": " << p.error;
    EXPECT_FALSE(p.doc.page_infos.empty()) << c.what;
    EXPECT_EQ(p.doc.page_infos.front().obj_num, 3) << c.what;
    EXPECT_LT(seconds, 5.0) << c.what;
  }
}

// Repeated visits: a node reached many times through shared kids must not
// cost a fresh scan of its own and its ancestors' dictionaries each time, or
// a small file keeps the walk busy for minutes.
TEST(PageTreeCycles, RepeatedVisitsCostNoRescan) {
  struct Case { const char *what; std::vector<Object> objects; int32_t first_page; };
  std::vector<Case> cases;
  {
    // Sixty shared levels, each node listing the next one 50 times in a
    // slash-separated array, and no box or resources anywhere: every page
    // visit looks for inherited attributes.
    std::vector<Object> objects = {{1, 0, "<< /Type /Catalog /Pages 100 0 R >>"}};
    for (int d = 0; d <= 60; ++d) {
      const std::string kid = d < 60 ? std::to_string(101 + d) : "3";
      std::string kids;
      for (int k = 0; k < 50; ++k) kids += kid + " 0 R/";
      objects.push_back({100 + d, 0, "<< /Type /Pages /Kids [" + kids + "] >>"});
    }
    objects.push_back({3, 0, page(160)});
    cases.push_back({"deep shared tree without attributes", objects, 3});
  }
  {
    // Two large shared nodes: 1024 references to the first, whose 64 kids
    // are the second; each dictionary holds 32 KiB of names.
    std::string pad = "/Pad [";
    for (int i = 0; i < 16384; ++i) pad += "/a";
    pad += "]";
    std::string kids;
    for (int k = 0; k < 64; ++k) kids += "102 0 R ";
    cases.push_back({"large shared nodes",
                     {{1, 0, "<< /Type /Catalog /Pages 100 0 R >>"},
                      {100, 0, node(refs(std::vector<int>(1024, 101)))},
                      {101, 0, "<< /Type /Pages " + pad + " /Kids [" + kids + "] >>"},
                      {102, 0, "<< /Type /Pages " + pad + " /Kids [3 0 R] >>"},
                      {3, 0, page(102, "/MediaBox [0 0 1 1] /Resources << >>")}},
                     3});
  }
  {
    // No tree to walk: a thousand pages found by the scan, each below the
    // same chain of 64 /Parent links through large dictionaries.
    std::string pad = "/Pad [";
    for (int i = 0; i < 4096; ++i) pad += "/a";
    pad += "]";
    std::vector<Object> objects = {{1, 0, "<< /Type /Catalog >>"}};
    for (int d = 0; d < 64; ++d)
      objects.push_back({200 + d, 0, "<< /Type /Pages " + pad + " /Parent " + std::to_string(201 + d) + " 0 R >>"});
    for (int n = 1000; n < 2000; ++n) objects.push_back({n, 0, page(200)});
    cases.push_back({"scanned pages below long parent chains", objects, 1000});
  }
  for (const Case &c : cases) {
    const auto start = std::chrono::steady_clock::now();
    const Paged p = paged(c.objects);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ASSERT_EQ(p.result, 1) << c.what << ": " << p.error;
    EXPECT_EQ(p.doc.page_infos.front().obj_num, c.first_page) << c.what;
    EXPECT_LT(seconds, 2.0) << c.what;
  }
}

#if !defined(_WIN32)
// ---------------------------------------------------------------------------
// End to end: trees of these forms stamped through the public function. qpdf
// finds the output sound with the input's page count, and poppler shows the
// stamp once on each page, inside the page's visible box.
class StampedTrees : public e2e::E2e {};

TEST_F(StampedTrees, StampShowsInsideEachVisibleBox) {
  struct Case { const char *what; std::vector<Object> objects; std::vector<e2e::Rect> visible, media; };
  const e2e::Rect letter{0, 0, 612, 792};
  const Case cases[] = {
      {"inline page among references",
       {kCatalog, {2, 0, node("3 0 R << /Type /Page /MediaBox [0 0 300 400] >>", "/Count 2 /MediaBox [0 0 612 792]")},
        {3, 0, page(2)}},
       {letter, {0, 0, 300, 400}}, {letter, {0, 0, 300, 400}}},
      {"untyped inline page in an array object named by /Kids",
       {kCatalog, {2, 0, "<< /Type /Pages /Kids 8 0 R /Count 2 /MediaBox [0 0 612 792] >>"},
        {8, 0, "[3 0 R << /MediaBox [0 0 200 300] >>]"}, {3, 0, page(2)}},
       {letter, {0, 0, 200, 300}}, {letter, {0, 0, 200, 300}}},
      {"inline node holding a cropped inline page",
       {kCatalog, {2, 0, node("<< /Kids [<< /Type /Page /CropBox [200 300 500 600] >>] /Count 1 >>", "/Count 1 /MediaBox [0 0 612 792]")}},
       {{200, 300, 500, 600}}, {letter}},
      {"page's crop box reaching past the node's media box",
       {kCatalog, {2, 0, node("3 0 R", "/Count 1 /MediaBox [0 0 612 792]")}, {3, 0, page(2, "/CropBox [300 400 700 900]")}},
       {{300, 400, 612, 792}}, {letter}},
      {"node's crop box over the page's own media box",
       {kCatalog, {2, 0, node("3 0 R", "/Count 1 /CropBox [100 100 400 500]")}, {3, 0, page(2, "/MediaBox [50 50 350 450]")}},
       {{100, 100, 350, 450}}, {{50, 50, 350, 450}}},
  };
  int n = 0;
  for (const Case &c : cases) {
    const std::string in = e2e::write_doc(dir(), "in" + std::to_string(++n), testpdf::build(c.objects, 1));
    const std::string out = dir() + "/out" + std::to_string(n) + ".pdf";
    ASSERT_EQ(folimark_text(in.c_str(), out.c_str(), "FOLISTAMP", 10, 10, 12, 1, 0, 0, 0, 0), 1)
        << c.what << ": " << folimark_last_error();
    EXPECT_EQ(e2e::qpdf_problems(out), "") << c.what;
    const std::string in_pages =
        e2e::must_run({e2e::tools().qpdf, "--warning-exit-0", "--show-npages", in}).out;
    ASSERT_EQ(std::to_string(e2e::page_count(out)) + "\n", in_pages) << c.what;
    ASSERT_EQ(static_cast<size_t>(e2e::page_count(out)), c.visible.size()) << c.what;
    for (size_t p = 0; p < c.visible.size(); ++p) {
      // pdftotext measures from the media box's top-left corner, y downwards.
      const e2e::Rect &v = c.visible[p], &m = c.media[p];
      int found = 0;
      for (const e2e::WordBox &w : e2e::word_boxes(out, static_cast<int>(p) + 1)) {
        if (w.text != "FOLISTAMP") continue;
        ++found;
        EXPECT_GE(m.x0 + w.x_min, v.x0) << c.what << ", page " << p + 1;
        EXPECT_LE(m.x0 + w.x_max, v.x1) << c.what << ", page " << p + 1;
        EXPECT_GE(m.y1 - w.y_max, v.y0) << c.what << ", page " << p + 1;
        EXPECT_LE(m.y1 - w.y_min, v.y1) << c.what << ", page " << p + 1;
      }
      EXPECT_EQ(found, 1) << c.what << ", page " << p + 1;
    }
  }
}
#endif

// ---------------------------------------------------------------------------
// Requested pages: every listed number must be a page of the document.
TEST(RequestedPages, RangeCheck) {
  const Paged p = paged(testpdf::simple_document({"a", "b", "c"}));
  ASSERT_EQ(p.result, 1) << p.error;
  ASSERT_EQ(p.doc.page_infos.size(), 3u);
  struct Case { std::vector<int32_t> pages; int32_t count; bool use_list; const char *error; };
  const Case cases[] = {
      {{1, 2, 3}, 3, true, nullptr},
      {{3, 1}, 2, true, nullptr},
      {{0}, 1, true, "page 0 is out of range (document has 3 pages)"},
      {{-1}, 1, true, "page -1 is out of range (document has 3 pages)"},
      {{4}, 1, true, "page 4 is out of range (document has 3 pages)"},
      {{1, 5, 0}, 3, true, "page 5 is out of range (document has 3 pages)"},  // the first offender
      {{1, 99}, 1, true, nullptr},    // only page_count entries are checked
      {{99}, 0, true, nullptr},       // no count: every page
      {{99}, -1, true, nullptr},
      {{}, 5, false, nullptr},        // no list: every page
  };
  for (const Case &c : cases) {
    StampRequest request{};
    request.pages = c.use_list ? c.pages.data() : nullptr;
    request.page_count = c.count;
    clear_error();
    const int ok = check_requested_pages(p.doc, request);
    if (c.error == nullptr) {
      EXPECT_EQ(ok, 1) << c.count;
    } else {
      EXPECT_EQ(ok, 0) << c.error;
      EXPECT_STREQ(error_text(), c.error);
    }
  }
}

// ---------------------------------------------------------------------------
// Damaged input of every kind ends in a clean 1, or 0 with a message.
TEST(ReadRobustness, MutatedSmallDocument) {
  const std::string sample = testpdf::simple_document({"one", "two"});
  const auto check = [](const std::string &bytes, const std::string &what) {
    const Paged p = paged(bytes);
    if (!p.loaded || !p.result) {
      EXPECT_FALSE(p.error.empty()) << what;
    }
    for (const PageInfo &info : p.doc.page_infos) {
      EXPECT_GT(info.box_w, 0) << what;
      EXPECT_GT(info.box_h, 0) << what;
    }
  };
  for (size_t i = 0; i < sample.size(); ++i) {
    std::string flipped = sample;
    flipped[i] = static_cast<char>(flipped[i] ^ 0x55);
    check(flipped, "flip " + std::to_string(i));
    std::string zeroed = sample;
    zeroed[i] = '\0';
    check(zeroed, "zero " + std::to_string(i));
    check(sample.substr(0, i), "truncate " + std::to_string(i));
  }
}

TEST(ReadRobustness, CorpusSweep) {
  const std::filesystem::path dir = std::filesystem::path(FOLIMARK_CORPUS_DIR) / "pdf" / "qpdf";
  if (!std::filesystem::is_directory(dir)) GTEST_SKIP() << "corpus folder absent: " << dir;
  std::vector<std::filesystem::path> files;
  for (const auto &entry : std::filesystem::directory_iterator(dir))
    if (entry.path().extension() == ".pdf") files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  ASSERT_FALSE(files.empty());
  size_t loaded = 0, with_pages = 0;
  const auto start = std::chrono::steady_clock::now();
  for (const auto &file : files) {
    const std::string path = file.string();
    PdfDoc doc;
    clear_error();
    int result = load_document(path.c_str(), doc);
    if (result == 1) {
      ++loaded;
      result = locate_pages(path.c_str(), doc);
      if (result == 1) ++with_pages;
    }
    ASSERT_TRUE(result == 0 || result == 1) << path;
    if (result == 0) {
      EXPECT_NE(error_text()[0], '\0') << path;
      EXPECT_NE(std::string(error_text()).find(path), std::string::npos) << path << ": " << error_text();
    } else {
      EXPECT_FALSE(doc.page_infos.empty()) << path;
      for (const PageInfo &info : doc.page_infos) {
        EXPECT_GT(info.box_w, 0) << path;
        EXPECT_GT(info.box_h, 0) << path;
      }
    }
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  RecordProperty("files", static_cast<int>(files.size()));
  RecordProperty("with_pages", static_cast<int>(with_pages));
  std::printf("%zu files, %zu loaded, %zu with pages, %.2f s\n", files.size(), loaded, with_pages, seconds);
  // Real files almost all have pages; a collapse here means reading broke.
  EXPECT_GT(with_pages, files.size() * 3 / 4);
}
