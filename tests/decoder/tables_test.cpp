// The decode tables entry by entry, and the text line.
#include <gtest/gtest.h>

#include <string>

#include "decoder/decoder.h"

namespace talvo {
namespace {

// The pattern written with '.' and '-' as (len, code).
const char* of(const std::string& pattern) {
  int code = 0;
  for (char c : pattern)
    code = 2 * code + (c == '-' ? 1 : 0);
  return lookup(static_cast<int>(pattern.size()), code);
}

TEST(DecodeTables, EveryEntry) {
  const std::pair<const char*, const char*> entries[] = {
      {"..", "i"},     {".-", "a"},     {"-.", "n"},     {"--", "m"},        {"...", "s"},
      {"..-", "u"},    {".-.", "r"},    {".--", "w"},    {"-..", "d"},       {"-.-", "k"},
      {"--.", "g"},    {"---", "o"},    {"....", "h"},   {"...-", "v"},      {"..-.", "f"},
      {"..--", "u"},   {".-..", "l"},   {".-.-", "a"},   {".--.", "p"},      {".---", "j"},
      {"-...", "b"},   {"-..-", "x"},   {"-.-.", "c"},   {"-.--", "y"},      {"--..", "z"},
      {"--.-", "q"},   {"---.", "o"},   {"----", "h"},   {".....", "5"},     {"....-", "4"},
      {"...--", "3"},  {"..-.-", "ik"}, {"..---", "2"},  {".-..-", "au"},    {".-.-.", "+"},
      {".----", "1"},  {"-....", "6"},  {"-...-", "-"},  {"-..-.", "/"},     {"--...", "7"},
      {"---..", "8"},  {"----.", "9"},  {"-----", "0"},  {"...-.-", "sk"},   {"..-.-.", "/"},
      {"..--..", "?"}, {".-...-", "-"}, {".-.-.-", "."}, {".-.--.", "("},    {".--.-.", "@"},
      {"-.--.-", ")"}, {"--..--", ","}, {"---...", ":"}, {"-.-.--.-", "cq"},
  };
  for (const auto& [pattern, s] : entries)
    EXPECT_STREQ(of(pattern), s) << pattern;
  // The meaningless five-element patterns.
  for (int code : {2, 4, 6, 8, 11, 12, 13, 14, 19, 20, 21, 22, 23, 25, 26, 27, 29})
    EXPECT_STREQ(lookup(5, code), "_") << code;
}

TEST(DecodeTables, LongPatterns) {
  int six_known = 0;
  for (int code = 0; code < 64; code++) {
    const std::string s = lookup(6, code);
    six_known += !s.empty();
  }
  EXPECT_EQ(six_known, 10);  // every other six-element pattern gives nothing
  for (int code = 0; code < 128; code++)
    EXPECT_STREQ(lookup(7, code), " ");
  for (int code = 0; code < 256; code++)
    EXPECT_STREQ(lookup(8, code), code == 173 ? "cq" : " ") << code;
  EXPECT_STREQ(lookup(9, 0), "~");
  EXPECT_STREQ(lookup(10, 1023), "~");
}

TEST(TextLine, CursorBlanksAndWrap) {
  ClusterDecoder r;
  char* row = r.textbuffer.data();
  textline_put(r, "c", 100);
  textline_put(r, "q", 100);
  EXPECT_EQ(r.textbufindex, 2);
  EXPECT_EQ(std::string(row), "cq   ");  // c, q, and the blanks at 3 and 4
  // An empty string only blanks after the cursor.
  textline_put(r, "", 100);
  EXPECT_EQ(r.textbufindex, 2);

  // A two-letter string whose first letter fills the last place (98 of a
  // 100-wide line) continues at 0.
  ClusterDecoder w;
  char* line = w.textbuffer.data();
  for (int i = 0; i < 98; i++)
    textline_put(w, "x", 100);
  EXPECT_EQ(w.textbufindex, 98);
  textline_put(w, "sk", 100);
  EXPECT_EQ(line[98], 's');
  EXPECT_EQ(line[0], 'k');
  EXPECT_EQ(w.textbufindex, 1);
  EXPECT_EQ(line[100], ' ');  // blanked at the wrap
  EXPECT_EQ(line[2], ' ');
  EXPECT_EQ(line[3], ' ');
  EXPECT_EQ(line[4], 'x');  // the old text from here on
  EXPECT_EQ(line[102], '\0');
}

}  // namespace
}  // namespace talvo
