// ReplayStart: a stream's first seconds read twice (the auto gain measures
// them, then they are decoded), with no sample lost or doubled where the
// kept part meets the rest of the stream.
#include "input/replay.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace talvo {
namespace {

// A stream of `n` samples counting 0, 1, 2, ...: no length, no rewind.
class Counting : public AudioSource {
 public:
  explicit Counting(long long n) : n_(n) {}
  int read(double* out, int n) override {
    int got = 0;
    for (; got < n && next_ < n_; got++)
      out[got] = static_cast<double>(next_++);
    return got;
  }
  bool rewind() override { return false; }
  long long length() const override { return -1; }

 private:
  long long n_;
  long long next_ = 0;
};

// Everything the source gives until it ends, in reads of `chunk`.
std::vector<double> drain(AudioSource& s, int chunk) {
  std::vector<double> all, buf(static_cast<std::size_t>(chunk));
  for (int n; (n = s.read(buf.data(), chunk)) > 0;)
    all.insert(all.end(), buf.begin(), buf.begin() + n);
  return all;
}

bool counts(const std::vector<double>& v, long long from, long long n) {
  if (static_cast<long long>(v.size()) != n) return false;
  for (long long i = 0; i < n; i++)
    if (v[static_cast<std::size_t>(i)] != static_cast<double>(from + i)) return false;
  return true;
}

TEST(ReplayStart, LongStreamSeemsToEndAfterTheKeptPartThenComesWholeAfterTheRewind) {
  const long long keep = static_cast<long long>(ReplayStart::kKeep);
  const long long total = keep + 12345;
  ReplayStart r(std::make_unique<Counting>(total));
  EXPECT_EQ(r.length(), -1);
  // Before the rewind: the first 10 s, then the end (reads that do not
  // divide the kept part evenly).
  EXPECT_TRUE(counts(drain(r, 4097), 0, keep));
  ASSERT_TRUE(r.rewind());
  // After it: the kept samples again, then the rest of the stream, each once.
  EXPECT_TRUE(counts(drain(r, 3001), 0, total));
  EXPECT_FALSE(r.rewind());  // once only
}

TEST(ReplayStart, ShortStreamComesTwiceWhole) {
  ReplayStart r(std::make_unique<Counting>(1000));
  EXPECT_TRUE(counts(drain(r, 512), 0, 1000));
  ASSERT_TRUE(r.rewind());
  EXPECT_TRUE(counts(drain(r, 512), 0, 1000));
}

TEST(ReplayStart, RewindBeforeAnythingWasReadGivesTheStreamOnce) {
  ReplayStart r(std::make_unique<Counting>(7000));
  ASSERT_TRUE(r.rewind());
  EXPECT_TRUE(counts(drain(r, 4096), 0, 7000));
}

}  // namespace
}  // namespace talvo
