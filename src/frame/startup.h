// The window program talvo: start-up in its fixed order (command line, audio
// input, layout, receiver, window, function-key texts, audio output, key
// line), then the sample loop (engine/station.h).
#pragma once

#include <cstdio>

#include "engine/station.h"

namespace talvo {

// Sets the layout values that follow from the window width.
void fix_layout(Station& st);

// Reads the function-key texts: row i gets line i + 1, at most rowlimit - 1
// characters per read (the rest of a longer line goes to the next row), its
// newline removed. Rows past the 16th are ignored.
void read_txtext(FILE* f, int rowlimit, char (&F_text)[16][255]);

// The whole program: start-up in its fixed order, then the sample loop.
// Returns the exit status.
int talvo_main(int argc, const char* const* argv);

}  // namespace talvo
