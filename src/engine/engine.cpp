#include "engine/engine.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "decoder/fine_timing.h"
#include "decoder/speed.h"
#include "decoder/walk.h"
#include "rx/block.h"
#include "rx/fine.h"
#include "rx/fine/common.h"
#include "rx/fine/filter_bank.h"
#include "rx/fine_receiver.h"
#include "util/textdiff.h"

namespace talvo {

// A group of neighbouring clusters: its front end, its decoders, and what
// they decoded during the batch being walked.
struct Engine::Group : public DecoderOutput, public WalkSteps {
  // Silence after which a held CQ call is decided: kQuietUnits of the
  // sender's dits, longer than any word gap (7 units), and kQuietGaps of
  // the gap learnt between its characters (Farnsworth gaps are long).
  static constexpr double kQuietUnits = 12;
  static constexpr double kQuietGaps = 3;
  std::unique_ptr<FrontEnd> fe;
  std::unique_ptr<Decoder> dec;
  int first = 0;  // index of its first own cluster among all
  // The front end's clusters lo .. lo + own - 1 are the group's own; those
  // either side are the neighbouring groups' edge clusters, there only so
  // that the front end guards against (and subtracts) their stations.
  int lo = 0, own = 0;
  bool mine(int q) const { return q >= lo && q < lo + own; }
  bool keep_text = true;
  bool find_calls = false;
  std::vector<std::string> text;  // per cluster
  std::vector<double> first_t;    // per cluster: seconds of its first character, -1 before
  // Per cluster, made when its first text comes (most clusters of a wide
  // span never print).
  std::vector<std::unique_ptr<spots::CallFinder>> finders;
  std::vector<spots::FoundCall> found;  // scratch
  std::vector<EngineEvent> events;      // of the batch being walked, in time order
  bool want_events = false;
  long long block_start = 0;  // frames before the block being walked
  int k = 0;                  // the sample of the block being walked
  int rate = 48000;           // input frames per second

  bool before_keys(int sample) override {
    k = sample;
    return true;
  }

  // The input frame a decision made at frame `at` stands for: the key
  // states run the front end's delay behind the input.
  long long audio_frame(long long at) const {
    return std::max(0LL, at - std::llround(fe->delay_s() * rate));
  }

  // The frame at which cluster q's string was decoded: now, less its age
  // when the decoder held it back, in the input's time.
  long long decoded_at(const ClusterDecoder& d, int q) const {
    const long long now = block_start + k + 1;
    const double per_tick = static_cast<double>(rate) / fe->ticks_per_second(q);
    return audio_frame(now - std::llround(static_cast<double>(std::max(0L, d.age)) * per_tick));
  }

  EngineEvent make(const ClusterDecoder& d, int q) const {
    EngineEvent e;
    e.sample = decoded_at(d, q);
    e.cluster = first + q - lo;
    e.center_hz = fe->centre_hz(q);
    e.cpm = d.speed;
    e.wpm = words_per_minute(d.speed);
    e.snr_db = fe->snr_db(q);
    e.tone_hz = fe->tone_hz(q);
    return e;
  }

  void print(const ClusterDecoder& d, int q, const char* s) override {
    if (!mine(q)) return;
    const auto i = static_cast<std::size_t>(q);
    if (first_t[i] < 0 && s[std::strspn(s, " ")] != '\0')
      first_t[i] = static_cast<double>(decoded_at(d, q)) / rate;
    if (keep_text) text[i] += s;
    if (want_events) {
      EngineEvent e = make(d, q);
      e.text = s;
      events.push_back(std::move(e));
    }
    if (find_calls) {
      found.clear();
      if (!finders[i]) finders[i] = std::make_unique<spots::CallFinder>();
      finders[i]->feed(s, found);
      calls(d, q);
    }
  }

  // The calls in `found` as events of cluster q (at frame `at`; -1: when
  // the string that decided them was decoded).
  void calls(const ClusterDecoder& d, int q, long long at = -1) {
    for (auto& c : found) {
      EngineEvent e = make(d, q);
      if (at >= 0) e.sample = at;
      e.is_call = true;
      e.call = c;
      events.push_back(std::move(e));
    }
  }

  // The end of the text: each finder decides the call it holds back.
  void flush_calls() {
    if (!find_calls) return;
    for (int q = lo; q < lo + own; q++) {
      found.clear();
      auto& finder = finders[static_cast<std::size_t>(q)];
      if (finder) finder->flush(found);
      calls((*dec)[q], q);
    }
  }

  // Clusters silent for a while since a CQ that ended on its call
  // twice: their finders decide the call now, at frame `now`, instead of
  // at the next word, which may come seconds later.
  void quiet_calls(long long now) {
    if (!find_calls) return;
    for (int q = lo; q < lo + own; q++) {
      auto& finder = finders[static_cast<std::size_t>(q)];
      const ClusterDecoder& d = (*dec)[q];
      if (!finder || !d.fine || !finder->waiting()) continue;
      const double quiet = std::max(kQuietUnits * d.fine->dit(), kQuietGaps * d.fine->char_gap());
      if (static_cast<double>(d.fine->gap_ticks()) < quiet) continue;
      found.clear();
      finder->quiet(found);
      // Dated when the sending it is made of ended: where the silence began.
      const double per_tick = static_cast<double>(rate) / fe->ticks_per_second(q);
      calls(d, q, audio_frame(now - std::llround(d.fine->gap_ticks() * per_tick)));
    }
  }

  // Walks n frames from `in` (2n values with I/Q) in blocks.
  void walk(const double* in, int n, int values_per_frame, long long start) {
    for (int off = 0; off < n; off += kBlock) {
      const int m = std::min(kBlock, n - off);
      block_start = start + off;
      walk_block(*fe, *dec, in + static_cast<std::ptrdiff_t>(off) * values_per_frame, m, *this,
                 *this);
      quiet_calls(block_start + m);
    }
  }
};

// The threads that walk the groups over each batch; the calling thread
// takes the first share itself. A batch of audio through several
// fine groups is walked block by block, each block a few tens of
// microseconds' work, so there a thread that finds no work and the caller
// waiting for the workers first spin a little (yielding the core) before
// they sleep: waking a sleeping thread costs about as much as the block.
// Long batches (a span behind a filter bank, classic) sleep at once.
struct Engine::Pool {
  static constexpr int kSpins = 4000;  // yields before a wait sleeps, when spinning
  std::vector<std::thread> workers;
  std::mutex m;
  std::condition_variable go, done;
  std::atomic<long long> generation{0};  // batches handed out
  std::atomic<int> busy{0};              // workers still walking the current batch
  bool stop = false;
  std::function<void(int)> job;  // walks the share of worker w

  const int spins;  // yields before a wait sleeps: kSpins for block-by-block walks, else 0

  Pool(int threads, bool spin) : spins(spin ? kSpins : 0) {
    for (int w = 1; w < threads; w++)
      workers.emplace_back([this, w] { loop(w); });
  }
  ~Pool() {
    {
      std::lock_guard<std::mutex> l(m);
      stop = true;
    }
    go.notify_all();
    for (auto& t : workers)
      t.join();
  }
  void loop(int w) {
    long long seen = 0;
    for (;;) {
      for (int i = 0; i < spins && generation.load(std::memory_order_acquire) == seen; i++)
        std::this_thread::yield();
      std::unique_lock<std::mutex> l(m);
      go.wait(l, [&] { return stop || generation.load(std::memory_order_relaxed) != seen; });
      if (stop) return;
      seen = generation.load(std::memory_order_relaxed);
      l.unlock();
      job(w);
      if (busy.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        std::lock_guard<std::mutex> g(m);
        done.notify_one();
      }
    }
  }
  void run(const std::function<void(int)>& f) {
    if (workers.empty()) {
      f(0);
      return;
    }
    {
      std::lock_guard<std::mutex> l(m);
      job = f;
      busy.store(static_cast<int>(workers.size()), std::memory_order_relaxed);
      generation.fetch_add(1, std::memory_order_release);
    }
    go.notify_all();
    f(0);
    for (int i = 0; i < spins && busy.load(std::memory_order_acquire) != 0; i++)
      std::this_thread::yield();
    std::unique_lock<std::mutex> l(m);
    done.wait(l, [&] { return busy.load(std::memory_order_acquire) == 0; });
  }
};

Engine::Engine(const EngineSettings& s) : set_(s) {
  std::vector<std::vector<int>> plans;
  std::vector<std::pair<int, int>> owns;  // per plan: first own cluster, own clusters
  if (s.receiver == ReceiverKind::kClassic) {
    plans.push_back({});
  } else {
    if (s.centres.empty()) throw std::invalid_argument("no clusters");
    // Groups as even as they can be. A front end guards its clusters against
    // the clicks and sidebands of the stations on its own clusters only, so
    // each also runs kEdgeClusters of each neighbouring group's clusters
    // (a station 40 Hz off the next group's first centre keyed its last
    // cluster otherwise), whose text it leaves to that group.
    const std::size_t n = s.centres.size();
    const std::size_t groups = (n + kGroupClusters - 1) / kGroupClusters;
    const std::size_t edge = kEdgeClusters;
    for (std::size_t g = 0; g < groups; g++) {
      const std::size_t a = g * n / groups, b = (g + 1) * n / groups;
      const std::size_t from = a > edge ? a - edge : 0, to = std::min(n, b + edge);
      plans.emplace_back(s.centres.begin() + static_cast<std::ptrdiff_t>(from),
                         s.centres.begin() + static_cast<std::ptrdiff_t>(to));
      owns.push_back({static_cast<int>(a - from), static_cast<int>(b - a)});
    }
  }
  if (s.receiver == ReceiverKind::kFine && s.iq && !fine::FilterBank::check(s.rate)) {
    bank_ = std::make_unique<fine::FilterBank>();
    batch_ = std::max(kBatch, kBankTicks * (s.rate / 500));
    bank_->make(s.rate, batch_);
  }
  int first = 0;
  for (std::size_t p = 0; p < plans.size(); p++) {
    auto g = std::make_unique<Group>();
    ReceiverPlan rp;
    rp.kind = s.receiver;
    rp.centerfreq = s.centerfreq;
    rp.centres = plans[p];
    rp.rate = s.rate;
    rp.native_rate = s.native_rate;
    rp.iq = s.iq;
    rp.bank = bank_.get();
    rp.text_width = 100;  // text rows wide enough for a line of text at a time
    ReceiverParts r = make_receiver(rp);
    g->fe = std::move(r.fe);
    g->dec = std::move(r.dec);
    const auto n = static_cast<std::size_t>(g->fe->clusters());
    g->lo = p < owns.size() ? owns[p].first : 0;
    g->own = p < owns.size() ? owns[p].second : static_cast<int>(n);
    g->first = first;
    g->rate = s.rate;
    g->keep_text = s.keep_text;
    g->find_calls = s.find_calls;
    g->text.resize(n);
    g->first_t.assign(n, -1.0);
    g->finders.resize(s.find_calls ? n : 0);
    g->events.reserve(256);
    first += g->own;
    groups_.push_back(std::move(g));
  }
  // A span behind a shared filter bank reaches far wider than any audio
  // band: its groups keep their own bursts (a strong signal somewhere on
  // it would blank every group, and walking its batches block by block
  // would lose the cache the long batches keep).
  if (s.receiver == ReceiverKind::kFine && !bank_ && groups_.size() > 1) {
    for (auto& g : groups_) {
      auto* r = dynamic_cast<FineReceiver*>(g->fe.get());
      if (r) shared_.push_back(&r->front_end());
    }
    if (shared_.size() != groups_.size()) shared_.clear();
    told_.resize(fine::kRing);
  }
  const int threads = std::clamp(s.threads, 1, static_cast<int>(groups_.size()));
  pool_ = std::make_unique<Pool>(threads, !shared_.empty());
}

Engine::~Engine() = default;

int Engine::clusters() const {
  int n = 0;
  for (const auto& g : groups_)
    n += g->own;
  return n;
}

int Engine::centre_hz(int q) const {
  for (const auto& g : groups_) {
    if (q < g->own) return g->fe->centre_hz(g->lo + q);
    q -= g->own;
  }
  return 0;
}

void Engine::feed(const double* in, int n, EngineSink* sink) {
  const int per_frame = set_.iq ? 2 : 1;
  const long long start = frames_;
  for (auto& g : groups_)
    g->want_events = sink != nullptr;
  if (bank_) bank_->run(in, n);
  if (shared_.empty()) {
    walk_batch(in, n, start);
  } else {
    for (int off = 0; off < n; off += kBlock) {
      const int m = std::min(kBlock, n - off);
      walk_batch(in + static_cast<std::ptrdiff_t>(off) * per_frame, m, start + off);
      share_bursts(m);
      share_carrier();
    }
  }
  frames_ += n;
  merge(sink);
  if (sink) sink->advanced(frames_);
}

// Every group walks n frames from `in`, its share of the groups on each
// thread.
void Engine::walk_batch(const double* in, int n, long long start) {
  struct Job {
    Engine* e;
    const double* in;
    int n;
    long long start;
  } job{this, in, n, start};
  const Job* j = &job;  // one pointer: the pool's job is held without allocating
  pool_->run([j](int w) {
    const auto& groups = j->e->groups_;
    const auto threads = j->e->pool_->workers.size() + 1;
    const int per_frame = j->e->set_.iq ? 2 : 1;
    for (std::size_t i = static_cast<std::size_t>(w); i < groups.size(); i += threads)
      groups[i]->walk(j->in, j->n, per_frame, j->start);
  });
}

// After a block of `frames` frames: every group's front end joins the
// ticks any group marked as a crash (each test alike: on the wide
// envelopes and on the channel powers) to its own. The ticks looked at
// reach back over the block and the ticks a test marks behind its newest
// (its pad before), and never further than the tests keep.
void Engine::share_bursts(int frames) {
  const long long reach =
      std::min<long long>(fine::kRing - 32, frames / shared_[0]->samples_per_tick() + 16);
  for (const bool wide : {true, false}) {
    const long long newest = shared_[0]->burst_newest(wide);
    bool aligned = newest >= 0;
    for (const auto* fe : shared_)
      aligned = aligned && fe->burst_newest(wide) == newest;
    if (!aligned) continue;
    const long long from = std::max(0LL, newest - reach + 1);
    const auto len = static_cast<std::size_t>(newest - from + 1);
    bool any = false;
    for (std::size_t i = 0; i < len; i++) {
      told_[i] = 0;
      for (const auto* fe : shared_)
        told_[i] |= fe->burst_marked(wide, from + static_cast<long long>(i));
      any = any || told_[i];
    }
    if (!any) continue;
    for (auto* fe : shared_)
      fe->join_bursts(wide, from, std::span<const unsigned char>(told_.data(), len));
  }
}

// After a block: every group's front end learns the strongest carrier of
// the whole band, which sets the floor of its dynamic range (a group far
// from a strong station's clusters hears its products alone).
void Engine::share_carrier() {
  double band = 0;
  for (const auto* fe : shared_)
    band = std::max(band, fe->strongest_carrier());
  for (auto* fe : shared_)
    fe->set_band_carrier(band);
}

void Engine::merge(EngineSink* sink) {
  merged_.clear();
  for (auto& g : groups_) {
    for (auto& e : g->events)
      merged_.push_back(std::move(e));
    g->events.clear();
  }
  if (!sink) return;
  // By time, then cluster; a cluster's own events keep their order.
  std::stable_sort(merged_.begin(), merged_.end(), [](const EngineEvent& a, const EngineEvent& b) {
    return a.sample != b.sample ? a.sample < b.sample : a.cluster < b.cluster;
  });
  for (const auto& e : merged_)
    sink->event(e);
}

void Engine::finish(EngineSink* sink, bool close) {
  if (!close) return;
  for (auto& g : groups_) {
    g->want_events = sink != nullptr;
    g->block_start = frames_;
    g->k = 0;
    g->dec->flush(*g);
    g->flush_calls();
  }
  merge(sink);
}

void Engine::input_ended() {
  if (measured_) return;
  measured_ = true;
  for (const auto& g : groups_) {
    for (int q = g->lo; q < g->lo + g->own; q++) {
      snr_db_.push_back(g->fe->snr_db(q));
      tone_hz_.push_back(g->fe->tone_hz(q));
    }
  }
}

std::vector<ClusterResult> Engine::results() const {
  std::vector<ClusterResult> res;
  for (const auto& g : groups_) {
    for (int q = g->lo; q < g->lo + g->own; q++) {
      const auto i = static_cast<std::size_t>(q);
      ClusterResult c;
      c.center_hz = g->fe->centre_hz(q);
      c.cpm = (*g->dec)[q].speed;
      c.wpm = words_per_minute(c.cpm);
      // As measured on the input, not on the silence after it.
      const auto at = res.size();
      c.snr_db = measured_ ? snr_db_[at] : g->fe->snr_db(q);
      c.tone_hz = measured_ ? tone_hz_[at] : g->fe->tone_hz(q);
      const std::string& t = g->text[i];
      const std::size_t a = t.find_first_not_of(' ');
      c.text = a == std::string::npos ? "" : t.substr(a, t.find_last_not_of(' ') - a + 1);
      c.first_t = g->first_t[i];
      res.push_back(std::move(c));
    }
  }
  return res;
}

namespace {

// Two texts are copies of one station when they differ in at most half of
// the longer one (texts are compared up to 2000 characters).
bool alike(const std::string& a, const std::string& b) {
  const std::string x = a.substr(0, 2000), y = b.substr(0, 2000);
  const std::size_t longer = std::max(x.size(), y.size());
  return longer > 0 && 2 * static_cast<std::size_t>(edit_distance(x, y)) <= longer;
}

}  // namespace

void drop_neighbour_copies(std::vector<ClusterResult>& r) {
  // Two neighbouring clusters copied one station when they keyed on the
  // same tone (within 20 Hz) and their texts are alike; the station is
  // strongest on the cluster whose centre lies nearest its tone, which keeps
  // the text.
  const auto off = [&](std::size_t i) { return std::fabs(r[i].tone_hz - r[i].center_hz); };
  std::vector<std::size_t> order(r.size());
  for (std::size_t i = 0; i < r.size(); i++)
    order[i] = i;
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t a, std::size_t b) { return off(a) < off(b); });
  for (std::size_t i : order) {
    if (r[i].text.empty()) continue;
    for (std::size_t j : {i - 1, i + 1}) {
      if (j >= r.size() || r[j].text.empty()) continue;
      if (std::abs(r[j].center_hz - r[i].center_hz) > 50) continue;
      if (std::fabs(r[j].tone_hz - r[i].tone_hz) > 20) continue;
      if (off(j) >= off(i) && alike(r[i].text, r[j].text)) {
        r[j].text.clear();
        r[j].first_t = -1;
      }
    }
  }
}

}  // namespace talvo
