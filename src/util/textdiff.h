// How far apart two texts are: the edit distance (insertions, deletions and
// substitutions of single characters), for telling copies of one station
// apart from different stations and for scoring decoded text against what
// was sent.
#pragma once

#include <string_view>

namespace talvo {

int edit_distance(std::string_view a, std::string_view b);

}  // namespace talvo
