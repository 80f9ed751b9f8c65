// What opening something gives: the thing, or why it cannot be had. The
// program's main prints the reason and picks the exit status.
#pragma once

#include <memory>
#include <string>

namespace talvo {

template <typename T>
struct Opened {
  std::unique_ptr<T> source;  // null when it cannot be had
  std::string error;          // why not
  explicit operator bool() const { return source != nullptr; }
};

}  // namespace talvo
