// Start-up: parse the command line, open the audio input, fix the layout,
// build the receiver, read the function-key texts, open the audio output and
// the serial key line, then run the sample loop until the input ends.
#include "frame/startup.h"

#include <sys/stat.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "frame/cmdline.h"
#include "frame/commands.h"
#include "frame/datafiles.h"
#include "rx/receiver.h"

namespace talvo {

void fix_layout(Station& st) {
  st.wasserwidth = 350;
  st.textbufwidth = (st.set.width - 390) / 8 - 1;
  st.Xatxtext = 390;
  st.screen.width = st.set.width;
  st.screen.height = st.set.height;
  st.screen.wasserwidth = st.wasserwidth;
  keyer_init(st.keyer, st.textbufwidth);
  st.keyer.Xatxtext = st.Xatxtext;
}

void read_txtext(FILE* f, int rowlimit, char (&F_text)[16][255]) {
  for (auto& row : F_text)
    row[0] = '\0';
  if (rowlimit > 255) rowlimit = 255;  // a wide window must not overrun a row
  for (auto& row : F_text) {
    if (std::fgets(row, rowlimit, f) == nullptr) {
      row[0] = '\0';
      break;
    }
    // Only a real newline goes: a last line without one keeps its last character.
    const std::size_t n = std::strlen(row);
    if (n > 0 && row[n - 1] == '\n') row[n - 1] = '\0';
  }
  // Lines past the 16th have no row and are left unread.
}

int talvo_main(int argc, const char* const* argv) {
  // A player that ends must not end the program: writes to it fail instead.
  std::signal(SIGPIPE, SIG_IGN);
  Station st;
  if (const auto refused = parse_command_line(argc, argv, st.set)) {
    std::fputs(refused->c_str(), stderr);
    return 1;
  }

  if (st.set.from_stdin) {
    st.fp = stdin;
  } else {
    // The shell popen() runs starts even without arecord: look first.
    if (const std::string why = cannot_start("arecord", "alsa-utils"); !why.empty()) {
      std::fprintf(stderr, "%s\n", why.c_str());
      return 1;  // nothing to decode
    }
    st.fp = popen(kRecorderCommand, "r");
    if (st.fp == nullptr) {
      std::fputs("cannot open pipe\n", stderr);
      return 1;  // nothing can run without input
    }
  }

  // The font and the function-key texts: here, beside the program, or installed.
  const std::string font = find_data_file(kFontFile);
  if (const FontLoad f = psfloadfont(st.screen.psf, font.c_str(), stderr); f.ok())
    std::fprintf(stderr, "font: %s\n", font.c_str());
  else
    std::fputs(f.message.c_str(), stderr);
  fix_layout(st);
  // The receiver comes before the window, whose frequency labels are its
  // clusters'.
  try {
    make_receiver(st);
  } catch (const InitError& e) {
    std::fputs(e.what(), stderr);
    return e.status;
  } catch (const std::invalid_argument& e) {
    // Clusters the fine front end cannot serve (too near the top of the band).
    std::fprintf(stderr, "the fine receiver cannot serve %d Hz: %s\n", st.set.centerfreq, e.what());
    return 1;
  }
  // Without a window the program runs on with the frame alone (said there).
  if (init_ggi(st.screen, *st.fe, st.keyer.txspeed) == WindowOpen::kFrameOnly)
    // The system's own words, kept byte for byte though the window now
    // comes from SDL2, not from ggiOpen.
    std::fputs("ggiOpen returned errorcode.\n", stderr);

  // A directory of that name opens but holds no texts: it cannot be read as them.
  FILE* fptext = std::fopen(find_data_file(kTxtextFile).c_str(), "r");
  struct stat st_text;
  if (fptext && fstat(fileno(fptext), &st_text) == 0 && S_ISDIR(st_text.st_mode)) {
    std::fclose(fptext);
    fptext = nullptr;
  }
  if (fptext) {
    read_txtext(fptext, st.textbufwidth, st.op.F_text);
    std::fclose(fptext);
  } else {
    std::fputs("txtext cannot be opened\n", stderr);
  }

  if (st.set.sidetone != notone) {
    if (!cannot_start("aplay", "alsa-utils").empty()) {
      // A missing player is an output gone from the start (the shell would
      // start and end at once).
      std::fputs("audio output is gone: aplay ended; decoding goes on\n", stderr);
    } else if ((st.fpout = popen(kPlayerCommand, "w")) == nullptr) {
      std::fputs("cannot open pipe\n", stderr);  // run on without audio output
    } else {
      static const char zeros[2000 * 2] = {};
      std::fwrite(zeros, sizeof zeros, 1, st.fpout);
    }
  }

  if (st.set.rtsout) {
    st.keyline = open_serial_keyline(st.set.seroutdev.c_str());
    if (!st.keyline) {
      // The message is kept as operators' scripts have always matched it.
      std::fputs("serial device cannot be opend\n", stderr);
      return 1;
    }
  }

  sample_loop(st);
  // A recorder that could not run, or failed, gave no (or not all) audio.
  int status = 0;
  if (!st.set.from_stdin) {
    const std::string why = recorder_ended("arecord", "alsa-utils", pclose(st.fp));
    if (!why.empty()) {
      std::fprintf(stderr, "%s\n", why.c_str());
      status = 1;
    }
  }
  // Whatever the output stream still buffers belongs to the player, and the
  // window shows the last picture.
  if (st.fpout) std::fflush(st.fpout);
  st.screen.vis.Finish();
  return status;
}

}  // namespace talvo
