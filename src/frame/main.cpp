// TALVO Morsedecoder: decodes up to nine Morse signals side by side from the
// audio of a receiver.
#include "frame/startup.h"

int main(int argc, char** argv) {
  return talvo::talvo_main(argc, argv);
}
