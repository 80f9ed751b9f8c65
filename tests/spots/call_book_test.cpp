// The country file and the call list: the record format with its exact
// calls and overrides, entities of plain and portable calls in Debian's
// hamradio-files, known and unknown calls, broken and missing files.
#include "spots/call_book.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

namespace talvo::spots {
namespace {

// A few records in the file's own layout, overrides included.
const char kCty[] =
    "Fed. Rep. of Germany:     14:  28:  EU:   51.00:   -10.00:    -1.0:  DL:\n"
    "    DA,DB,DC,DD,DE,DF,DG,DH,DI,DJ,DK,DL,DM,DN,DO,DP,DQ,DR,Y2,Y3,Y4,Y5,Y6,Y7,Y8,Y9,\n"
    "    =DA0BHV/LH;\n"
    "England:                  14:  27:  EU:   52.77:     1.47:     0.0:  G:\n"
    "    2E,G,M,=G0IBN/LH;\n"
    "United States of America: 05:  08:  NA:   37.60:    91.87:     5.0:  K:\n"
    "    AA,K,N,W,=N2NL/MM(7),KH6ZZ[61];\n"
    "Hawaii:                   31:  61:  OC:   21.12:   157.48:    10.0:  KH6:\n"
    "    AH6,KH6,=W6HI<21.0/157.0>;\n"
    "Sov Mil Order of Malta:   15:  28:  EU:   41.90:   -12.43:    -1.0:  *1A:\n"
    "    1A;\n";

std::string name_of(const CountryFile& c, const char* call) {
  const Entity* e = c.entity_of(call);
  return e ? e->name : "";
}

TEST(CountryFile, RecordsPrefixesExactCallsAndOverrides) {
  CountryFile c;
  ASSERT_EQ(c.parse(kCty), "");
  EXPECT_EQ(c.entities(), 5u);
  EXPECT_EQ(name_of(c, "DL1ABC"), "Fed. Rep. of Germany");
  EXPECT_EQ(name_of(c, "Y21ABC"), "Fed. Rep. of Germany");
  EXPECT_EQ(name_of(c, "G4ABC"), "England");
  EXPECT_EQ(name_of(c, "2E0ABC"), "England");
  EXPECT_EQ(name_of(c, "K5MR"), "United States of America");
  // The longest prefix wins: KH6 is Hawaii, KH6ZZ (with its ITU override)
  // the USA; an exact call with a position override is Hawaii.
  EXPECT_EQ(name_of(c, "KH6ABC"), "Hawaii");
  EXPECT_EQ(name_of(c, "KH6ZZ"), "United States of America");
  EXPECT_EQ(name_of(c, "W6HI"), "Hawaii");
  EXPECT_EQ(name_of(c, "W6HJ"), "United States of America");
  EXPECT_EQ(name_of(c, "N2NL/MM"), "United States of America");
  EXPECT_EQ(name_of(c, "1A0KM"), "Sov Mil Order of Malta");
  const Entity* e = c.entity_of("1A0KM");
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->prefix, "1A");  // the "*" is no part of the prefix
  EXPECT_EQ(e->cq_zone, 15);
  EXPECT_EQ(e->itu_zone, 28);
  EXPECT_EQ(e->continent, "EU");
  // No prefix of it is listed.
  EXPECT_EQ(c.entity_of("ZS6ABC"), nullptr);
  EXPECT_EQ(c.entity_of(""), nullptr);
}

TEST(CountryFile, PortableCallsAreWhereTheyAre) {
  CountryFile c;
  ASSERT_EQ(c.parse(kCty), "");
  EXPECT_EQ(name_of(c, "DL/G4ABC"), "Fed. Rep. of Germany");
  EXPECT_EQ(name_of(c, "G4ABC/DL"), "Fed. Rep. of Germany");
  EXPECT_EQ(name_of(c, "DL/G4ABC/P"), "Fed. Rep. of Germany");
  EXPECT_EQ(name_of(c, "G4ABC/P"), "England");
  EXPECT_EQ(name_of(c, "G4ABC/QRP"), "England");
  EXPECT_EQ(name_of(c, "DL0ABC/B"), "Fed. Rep. of Germany");
  EXPECT_EQ(name_of(c, "KH6/DL1ABC"), "Hawaii");
  EXPECT_EQ(name_of(c, "DA0BHV/LH"), "Fed. Rep. of Germany");
  EXPECT_EQ(home_call("DL/G4ABC"), "G4ABC");
  EXPECT_EQ(home_call("G4ABC/DL"), "G4ABC");
  EXPECT_EQ(home_call("DL/G4ABC/P"), "G4ABC");
  EXPECT_EQ(home_call("G4ABC/P"), "G4ABC");
  EXPECT_EQ(home_call("VP2V/W1AW"), "W1AW");
  EXPECT_EQ(home_call("K5MR"), "K5MR");
}

TEST(CountryFile, BrokenFilesAreRefusedWithTheLine) {
  CountryFile c;
  EXPECT_EQ(c.parse(""), "cty.dat line 0: no entity");
  EXPECT_EQ(c.parse("Germany: 14: 28: EU:\n    DL;\n"),
            "cty.dat line 1: an entity line needs eight fields");
  EXPECT_EQ(c.parse("    DL,DA;\n"), "cty.dat line 1: prefixes before an entity");
  EXPECT_EQ(c.parse("Germany: 14: 28: EU: 51: -10: -1: DL:\n    DL,DA,\n"),
            "cty.dat line 2: the last entity has no \";\"");
  EXPECT_EQ(c.entity_of("DL1ABC"), nullptr);  // nothing kept of a broken file
}

std::string read(const char* path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

// Debian's files, as scripts/install-deps installs them.
class Installed : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    cty_ = new std::string(read(kCtyPath));
    scp_ = new std::string(read(kScpPath));
  }
  static void TearDownTestSuite() {
    delete cty_;
    delete scp_;
  }
  void SetUp() override {
    ASSERT_FALSE(cty_->empty()) << kCtyPath << ": install hamradio-files";
    ASSERT_FALSE(scp_->empty()) << kScpPath << ": install hamradio-files";
  }
  static std::string* cty_;
  static std::string* scp_;
};
std::string* Installed::cty_ = nullptr;
std::string* Installed::scp_ = nullptr;

TEST_F(Installed, EntitiesOfRealCalls) {
  CountryFile c;
  ASSERT_EQ(c.parse(*cty_), "");
  EXPECT_GT(c.entities(), 300u);
  const std::pair<const char*, const char*> calls[] = {
      {"DL1ABC", "DL"},   {"K5MR", "K"},    {"W1AW", "K"},       {"G4ABC", "G"},
      {"DL/G4ABC", "DL"}, {"G4ABC/P", "G"}, {"ZF9CW", "ZF"},     {"S53XM", "S5"},
      {"LZ1KW", "LZ"},    {"OK1XYZ", "OK"}, {"YV5B", "YV"},      {"VE3XYZ", "VE"},
      {"JA1ABC", "JA"},   {"2E0ABC", "G"},  {"KH6/K5MR", "KH6"}, {"9A2AA", "9A"}};
  for (const auto& [call, prefix] : calls) {
    const Entity* e = c.entity_of(call);
    ASSERT_NE(e, nullptr) << call;
    EXPECT_EQ(e->prefix, prefix) << call;
  }
  // Call-shaped, but no entity's prefix.
  for (const char* call : {"1B1ABC", "S1ABC", "J1ABC", "X1ABC"})
    EXPECT_EQ(c.entity_of(call), nullptr) << call;
}

TEST_F(Installed, KnownAndUnknownCalls) {
  CallList l;
  ASSERT_EQ(l.parse(*scp_), "");
  EXPECT_GT(l.size(), 50000u);
  for (const char* call : {"K5MR", "W1AW", "ZF9CW", "G3XYZ", "W1NT"})
    EXPECT_TRUE(l.contains(call)) << call;
  for (const char* call : {"G3XYG", "HTE9NNN", "DL1ABC", "#", ""})
    EXPECT_FALSE(l.contains(call)) << call;
  CallBook b;
  EXPECT_EQ(b.load(cty_, scp_), "");
  EXPECT_TRUE(b.known("K5MR"));
  EXPECT_TRUE(b.known("K5MR/P"));  // a portable call by its home call
  EXPECT_TRUE(b.known("KH6/K5MR"));
  EXPECT_FALSE(b.known("G3XYG"));
  EXPECT_TRUE(b.valid("G3XYG"));
  EXPECT_FALSE(b.valid("S1ABC"));
}

TEST(CallList, CommentsBlankLinesAndLineEnds) {
  CallList l;
  EXPECT_EQ(l.parse("#\n# Release 2023\n#\nK5MR\r\n\n  w1aw \nG3XYZ"), "");
  EXPECT_EQ(l.size(), 3u);
  EXPECT_TRUE(l.contains("W1AW"));
  EXPECT_TRUE(l.contains("G3XYZ"));
  EXPECT_FALSE(l.contains("# Release 2023"));
  EXPECT_EQ(l.parse("# only comments\n"), "MASTER.SCP: no call in it");
}

TEST(CallBook, MissingFilesFallBackWithOneNotice) {
  CallBook b;
  const std::string cty = kCty, scp = "K5MR\n";
  EXPECT_EQ(b.load(&cty, &scp), "");
  EXPECT_TRUE(b.has_countries());
  EXPECT_FALSE(b.valid("ZS6ABC"));

  const std::string n = b.load(nullptr, &scp);
  EXPECT_EQ(n, "no country file (cty.dat): calls are checked by their shape alone");
  EXPECT_FALSE(b.has_countries());
  EXPECT_TRUE(b.valid("ZS6ABC"));  // the shape alone
  EXPECT_EQ(b.entity_of("DL1ABC"), nullptr);
  EXPECT_TRUE(b.known("K5MR"));

  EXPECT_EQ(b.load(&cty, nullptr), "no call list (MASTER.SCP): every call is taken as unknown");
  EXPECT_FALSE(b.known("K5MR"));
  EXPECT_FALSE(b.valid("ZS6ABC"));

  const std::string broken = "Germany: 14:\n";
  EXPECT_EQ(b.load(&broken, nullptr),
            "cty.dat line 1: an entity line needs eight fields: calls are checked by their shape "
            "alone; no call list (MASTER.SCP): every call is taken as unknown");
  EXPECT_TRUE(b.valid("ZS6ABC"));
}

}  // namespace
}  // namespace talvo::spots
