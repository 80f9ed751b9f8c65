// Character error rate of a decoded text against the sent text: edit
// distance over the reference's length, both after their first word, in
// lower case, with runs of blanks as one.  Usage: cer SENT DECODED
#include <cstdio>

#include "support/morse.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: cer SENT DECODED\n");
    return 2;
  }
  const std::string ref = talvo::test::after_first_word(argv[1]);
  const std::string hyp = talvo::test::after_first_word(argv[2]);
  std::printf("%.3f\n", ref.empty() ? 0.0
                                    : static_cast<double>(talvo::test::edit_distance(ref, hyp)) /
                                          static_cast<double>(ref.size()));
  return 0;
}
