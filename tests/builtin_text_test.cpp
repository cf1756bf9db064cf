// Text in the built-in Helvetica end to end: the letters of Central and
// Western European languages come back from poppler exactly as given, in
// both interfaces, and a character no built-in font has is refused with
// its name and no output.
#include <folimark.h>
#include <gtest/gtest.h>

#include <string>

#include "support/e2e_oracles.h"
#include "support/pdf_builder.h"

namespace {

using namespace e2e;
using BuiltinText = E2e;

// Returns the page's text with the line ends and the form feed poppler adds
// taken away.
std::string shown(const std::string &path) {
  std::string text = page_text(path, 1);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\f')) text.pop_back();
  return text;
}

// Faults guarded: letters outside WinAnsi shown as the bytes of their UTF-8
// ("PÅ™íliš"), a wrong glyph name, a font switch that loses a letter.
TEST_F(BuiltinText, EuropeanLettersReadBack) {
  const std::string in = write_doc(dir(), "blank", testpdf::simple_document({""}, "[0 0 1200 400]"));
  const char *const texts[] = {
      "Příliš žluťoučký kůň úpěl ďábelské ódy",            // Czech
      "Zażółć gęślą jaźń. Łódź, Kraków, Gdańsk",          // Polish
      "Árvíztűrő tükörfúrógép, Őrség",                    // Hungarian
      "Pijamalı hasta yağız şoföre çabucak güvendi İĞŞ",  // Turkish
      "Größe, Straße, Übermaß",                           // German
      "Œuvre à Noël, garçon, ça coûte 5 € « déjà »",      // French
      "„Anführung“ ‚einfach‘ “double” ‘single’ – — …",    // quotes and dashes
      "Țară și Ștefan, Ā ā Ē ē Ī ī Ō ō Ū ū",              // Romanian, macrons
  };
  const std::string out = dir() + "/out.pdf";
  for (const char *text : texts) {
    ASSERT_EQ(folimark_text(in.c_str(), out.c_str(), text, 20, 200, 20, 1, 0, 0, 0, 0), 1)
        << folimark_last_error();
    EXPECT_EQ(qpdf_problems(out), "");
    std::string expected = text;
    // Helvetica draws ț and ș's capital T with the glyphs of ţ and Ţ, whose
    // names read back as the cedilla forms.
    for (const auto &[from, to] : {std::pair{"Ț", "Ţ"}, std::pair{"ț", "ţ"}})
      for (size_t at = expected.find(from); at != std::string::npos; at = expected.find(from))
        expected.replace(at, std::string(from).size(), to);
    EXPECT_EQ(shown(out), expected);
  }
  // Through the extended interface, centred: the same words.
  folimark_options o;
  folimark_options_init(&o, sizeof o);
  o.input_path = in.c_str();
  o.output_path = out.c_str();
  o.text = texts[0];
  o.anchor = FOLIMARK_ANCHOR_CENTER;
  ASSERT_EQ(folimark_stamp(&o, nullptr, nullptr), FOLIMARK_OK) << folimark_error_message();
  EXPECT_EQ(shown(out), texts[0]);
}

// Faults guarded: a character outside every built-in encoding stamped as
// garbage and reported as success; a tab lost.
TEST_F(BuiltinText, CharactersOutsideTheFontAreRefused) {
  const std::string in = write_doc(dir(), "blank", testpdf::simple_document({""}));
  const std::string out = dir() + "/out.pdf";
  EXPECT_EQ(folimark_text(in.c_str(), out.c_str(), "Name: 中文", 20, 200, 20, 1, 0, 0, 0, 0), 0);
  EXPECT_EQ(std::string(folimark_last_error()),
            "cannot stamp " + in + ": character U+4E2D '中' is not in the built-in font; give a font file");
  EXPECT_FALSE(fs::exists(out));
  folimark_options o;
  folimark_options_init(&o, sizeof o);
  o.input_path = in.c_str();
  o.output_path = out.c_str();
  o.text = "Ωmega";
  EXPECT_EQ(folimark_stamp(&o, nullptr, nullptr), FOLIMARK_ERROR_UNSUPPORTED);
  EXPECT_NE(std::string(folimark_error_message()).find("U+03A9 'Ω'"), std::string::npos);
  EXPECT_FALSE(fs::exists(out));

  ASSERT_EQ(folimark_text(in.c_str(), out.c_str(), "one\ttwo", 20, 200, 20, 1, 0, 0, 0, 0), 1);
  EXPECT_EQ(shown(out), "one two");
}

}  // namespace
