// talvo as an operator starts it, in a station of its own: a working
// directory holding the font and txtext.asc, and fake arecord and aplay first
// on PATH, so that no test reaches the machine's sound devices. The fake
// arecord writes its arguments to arecord.args and plays a given recording;
// the fake aplay writes its arguments to aplay.args, what it is given to
// aplay.bytes, and makes aplay.done when its input ends.
#pragma once

#include <string>
#include <vector>

#include "support/process.h"

namespace talvo::test {

// What every headless run of talvo in its station writes on standard error:
// the command it reads its font with, the font it loaded, named as found in
// the working directory, then the display layer's word that no window
// opened. Standard output carries only the selected clusters' text.
inline const std::string kNoWindow = "ggiOpen returned errorcode.\n";
inline const std::string kFontCommand = "gunzip -c  velquin-font.psf.gz\n";
inline const std::string kHeadless = kFontCommand + "font: velquin-font.psf.gz\n" + kNoWindow;

class Station {
 public:
  explicit Station(const std::string& txtext = "cq cq de test\n");

  // The fake arecord plays `recording` (S16LE bytes).
  void record(const std::string& recording) const;
  // The fake aplay is `script` instead.
  void player(const std::string& script) const;

  // Runs talvo with `args` in the working directory, `input` on its
  // standard input.
  Run talvo(const std::vector<std::string>& args, const std::string& input = "") const;
  // Runs it as the operator does with audio on standard input and no audio
  // output: centre 700 Hz, width 1200.
  Run stdin_run(const std::string& input = std::string(4000, '\0')) const;
  // The same from a copy of talvo with no data files beside it, so that only
  // the working directory's are found (the build folder holds a font).
  Run stdin_run_alone(const std::string& input = std::string(4000, '\0')) const;

  // What the fake aplay was given. The player outlives the program by a
  // moment: this waits until it has read all, at most five seconds.
  std::string played() const;

  TempDir bin;   // the fake programs and what they record
  TempDir work;  // talvo's working directory
};

}  // namespace talvo::test
