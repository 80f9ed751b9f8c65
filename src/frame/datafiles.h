// Where the program finds its data files (the font of the text lines and
// txtext.asc): the current folder first, then the program's own folder
// (the build puts them there), then the data folder of an installation
// beside it (<program's folder>/../share/talvo, so an installation can
// move), then the data folder of the configured install prefix.
#pragma once

#include <string>
#include <vector>

namespace talvo {

// The folders searched, in order; "" is the current folder.
std::vector<std::string> data_dirs();

// The first regular file `name` in data_dirs(): `name` itself when it is in
// the current folder, else its path; `name` when no folder has it (so that
// opening it fails as it always did).
std::string find_data_file(const std::string& name);

}  // namespace talvo
