// The decode tables: element patterns to strings. A pattern is read with
// its first element in the most significant bit, a dit 0 and a dah 1. All
// letters are lower case; "ik", "au", "sk" and "cq" stand for two letters
// sent without a gap, and "_" for a five-element pattern with no meaning.
#include "decoder/decoder.h"

namespace talvo {
namespace {

const char* const two[4] = {"i", "a", "n", "m"};
const char* const three[8] = {"s", "u", "r", "w", "d", "k", "g", "o"};
const char* const four[16] = {"h", "v", "f", "u", "l", "a", "p", "j",
                              "b", "x", "c", "y", "z", "q", "o", "h"};
const char* const five[32] = {"5", "4", "_", "3", "_", "ik", "_", "2", "_", "au", "+",
                              "_", "_", "_", "_", "1", "6",  "-", "/", "_", "_",  "_",
                              "_", "_", "7", "_", "_", "_",  "8", "_", "9", "0"};

const char* six(int code) {
  switch (code) {
    case 5:
      return "sk";
    case 10:
      return "/";
    case 12:
      return "?";
    case 17:
      return "-";
    case 21:
      return ".";
    case 22:
      return "(";
    case 26:
      return "@";
    case 45:
      return ")";
    case 51:
      return ",";
    case 56:
      return ":";
    default:
      return "";
  }
}

}  // namespace

const char* lookup(int len, int code) {
  switch (len) {
    case 2:
      return two[code & 3];
    case 3:
      return three[code & 7];
    case 4:
      return four[code & 15];
    case 5:
      return five[code & 31];
    case 6:
      return six(code);
    case 7:
      return " ";
    case 8:
      return code == 173 ? "cq" : " ";
    default:
      return "~";  // nine or ten elements
  }
}

}  // namespace talvo
