#include "util/textdiff.h"

#include <algorithm>
#include <vector>

namespace talvo {

int edit_distance(std::string_view a, std::string_view b) {
  // One row of the table at a time.
  std::vector<int> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); j++)
    row[j] = static_cast<int>(j);
  for (std::size_t i = 1; i <= a.size(); i++) {
    int diag = row[0];
    row[0] = static_cast<int>(i);
    for (std::size_t j = 1; j <= b.size(); j++) {
      const int up = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diag + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diag = up;
    }
  }
  return row[b.size()];
}

}  // namespace talvo
