// Character error rate of a decoded text against the sent text: edit
// distance over the reference's length, both after their first word, in
// lower case, with runs of blanks as one.  Usage: cer SENT DECODED, where
// an argument @FILE stands for the text in FILE (texts of an hour are too
// long for a command line).
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "support/morse.h"

static std::string text_of(const char* arg) {
  if (arg[0] != '@') return arg;
  std::ifstream in(arg + 1);
  if (!in) {
    std::fprintf(stderr, "cer: cannot read %s\n", arg + 1);
    std::exit(2);
  }
  std::ostringstream all;
  all << in.rdbuf();
  return all.str();
}

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: cer SENT DECODED\n");
    return 2;
  }
  const std::string ref = talvo::test::after_first_word(text_of(argv[1]));
  const std::string hyp = talvo::test::after_first_word(text_of(argv[2]));
  std::printf("%.3f\n", ref.empty() ? 0.0
                                    : static_cast<double>(talvo::test::edit_distance(ref, hyp)) /
                                          static_cast<double>(ref.size()));
  return 0;
}
