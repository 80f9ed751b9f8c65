// Faults a real station meets: the player ending, the serial adapter
// unplugged. The program says so once and decodes on.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "engine/keyline.h"
#include "support/fakes.h"
#include "support/signal.h"

namespace talvo {
namespace {

using test::kHeadless;

test::Run talvo_with_player(const std::string& player, const std::string& mode,
                            const std::string& input) {
  test::Station st("");
  st.player(player);
  return st.talvo({"700", "1200", mode, "stdin"}, input);
}

TEST(Faults, PlayerThatEndsLeavesTheReceiverRunning) {
  // Five seconds of audio: far more than the pipe holds once the player is gone.
  const std::string audio = test::to_bytes(test::mix({{700, 6000, 0, {{0.5, 4}}, 0.005}}, 5.0));
  for (const std::string mode : {"rxtone", "txtone"}) {
    const auto r = talvo_with_player("#!/bin/sh\nexit 0\n", mode, audio);
    // It read its input to the end (killed by SIGPIPE it would show 141).
    EXPECT_EQ(r.status, 0) << mode;
    EXPECT_EQ(r.err, kHeadless + "audio output is gone: aplay ended; decoding goes on\n") << mode;
  }
  // A player that stays is not reported.
  const auto ok = talvo_with_player("#!/bin/sh\ncat >/dev/null\n", "txtone", audio);
  EXPECT_EQ(ok.status, 0);
  EXPECT_EQ(ok.err, kHeadless);
}

TEST(Faults, UnpluggedSerialAdapterIsReportedOnce) {
  // A descriptor that no longer refers to a device (nothing is open at 1000).
  ASSERT_EQ(fcntl(1000, F_GETFD), -1);
  auto line = keyline_on(1000);
  ::testing::internal::CaptureStderr();
  for (int i = 0; i < 100; i++)
    line->set(true);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "serial device lost: the key line no longer answers; decoding goes on\n");
  // A device that has no modem lines at all (a pipe here) is not "lost".
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  auto plain = keyline_on(fds[0]);
  ::testing::internal::CaptureStderr();
  plain->set(false);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  close(fds[0]);
  close(fds[1]);
}

}  // namespace
}  // namespace talvo
