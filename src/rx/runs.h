// Key runs: the key state of a weak signal decided over whole elements.
//
// A tick-by-tick threshold on a weak signal misses dots whose average the
// noise pulled under it and splits dashes where a dip of noise crosses it,
// although the ticks around say plainly that a dot or a dash was sent. This
// unit decides the key state as the most likely sequence of runs instead: a
// run of key-down ticks is a dot or a dash, a run of key-up ticks an element,
// character or word gap (or a longer pause), each with a length around its
// multiple of the dot, and every tick brings the log-likelihood ratio of
// key down over key up. A Viterbi search over (key state, ticks into the
// run) with these run lengths finds the best sequence; the key state is
// given `lag` ticks late, traced back from the best path at the newest tick.
//
// The run lengths are explicit: a state is a run's start tick (the longest
// runs share one last state that keeps its start). Leaving a run has the
// probability of the run ending at that length among those as long or
// longer, so a dash split by a noise dip must pay for two unlikely lengths
// and an extra run. A run's score is kept as its score on entry less the
// key state's summed evidence up to then, so that going on a tick costs
// nothing to store: one pass over the runs under way finds both the best
// that ends and the best of all. Each run's start remembers the start of the
// run before, so tracing back costs one step per run.
//
// Life cycle: make once (all memory), reset, set_unit whenever the dot
// length changes, step once a tick. Nothing is allocated after make.
#pragma once

#include <memory>
#include <new>
#include <utility>
#include <vector>

namespace talvo {

// An allocator whose vectors leave new elements uninitialised: memory not
// written stays untouched, so costs no resident pages until it is used.
template <typename T>
struct UninitAllocator : std::allocator<T> {
  template <typename U>
  struct rebind {
    using other = UninitAllocator<U>;
  };
  UninitAllocator() = default;
  template <typename U>
  UninitAllocator(const UninitAllocator<U>&) noexcept {}
  template <typename U>
  void construct(U* p) noexcept {
    ::new (static_cast<void*>(p)) U;
  }
  template <typename U, typename... A>
  void construct(U* p, A&&... a) {
    ::new (static_cast<void*>(p)) U(std::forward<A>(a)...);
  }
};

class KeyRuns {
 public:
  // max_unit: longest dot followed, ticks; lag: ticks from the newest tick
  // to the tick whose key state step() gives. ready false: the memory is
  // not written until reset() (a pool of followers resets each as it
  // hands it out; those never used cost no resident memory).
  void make(double max_unit, int lag, bool ready = true);
  void reset();
  // The dot length the run lengths are built on, ticks.
  void set_unit(double unit);
  // One tick: llr is the log-likelihood ratio of key down over key up for
  // the newest tick (natural log). Returns the key state `lag` ticks back.
  bool step(double llr);

 private:
  static constexpr int kDown = 1, kUp = 0;
  void tables(int k, const double* mean, const double* sd, const double* weight, int n, double any,
              double cap_hazard);
  double score(int k, int d) const;  // of the run d + 1 ticks long at the newest tick
  double rebase();                   // returns what was taken off every score

  int lag_ = 0;                // ticks the decision waits
  int mask_ = 0;               // size of the entry rings less one (a power of two)
  int prev_mask_ = 0;          // the same for the start rings
  double unit_ = 0;            // dot length, ticks
  long long t_ = -1;           // the newest tick
  int best_k_ = 0;             // key state of the best run at the newest tick
  long long best_start_ = -1;  // its start tick
  // Per key state (up, down):
  int len_[2] = {};  // run lengths told apart (the last holds all longer ones)
  using Doubles = std::vector<double, UninitAllocator<double>>;
  Doubles go_[2];             // [d]: log-probability a run goes on to d + 1 ticks, summed
  Doubles end_[2];            // [d]: that, and the run ending at d + 1 ticks
  double cap_stay_[2] = {};   // log-probability a run in the last state goes on a tick
  double cap_leave_[2] = {};  // and that it ends
  double sum_[2] = {};        // evidence for the key state summed up to the newest tick
  // [start & mask_], written twice (there and one ring further) so that the
  // newest len_ starts stand in a row: the score on entry less sum_ before it.
  Doubles entry_[2];
  double cap_[2] = {};           // score of the run in the last state
  long long cap_start_[2] = {};  // its start tick
  // [start & prev_mask_]: the start tick of the run before one that began then.
  std::vector<long long, UninitAllocator<long long>> prev_[2];
};

}  // namespace talvo
