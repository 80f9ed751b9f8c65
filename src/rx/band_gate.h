// The band gate: judges each cluster's marks against the whole band.
//
// A front end that keys every cluster on its own signal-to-noise ratio keys
// what is not a station: the products of a strong signal (codec products,
// harmonics, its keying sidebands on clusters around it) follow that
// signal's key edges; the two tones of frequency-shift keying key each
// other's gaps; a static crash or a syllable of speech keys many clusters at
// once. So a mark is "explained" when other clusters' marks or gaps cover
// the same ticks: an edge within kEdgeTicks of both its start and its end,
// of one and the same mark or gap of the other cluster. That is
//  - a product: one mark of a cluster kProductDb stronger, if one of that
//    cluster's marks was over one of this one's kFollowMarks marks before
//    too or its own marks are mostly explained (a product's source in
//    another group of clusters), or one mark of a cluster kLoneProductDb
//    stronger. A product follows its source mark after mark; in a busy
//    band the marks of a weak station and of a strong one keyed at its
//    speed line up now and then by chance, and with many strong stations
//    that explained a quarter of a weak one's marks, and the share so
//    raised dropped a third of them;
//  - a click: a mark from within kEdgeTicks before an edge of a cluster
//    kProductDb stronger to at most kClickTicks after it (keying sidebands);
//    beyond kNearHz the source must stand kClickDbPerHz more for each Hz
//    further away, up to kClickFarDb more (sidebands fall off away from
//    their station; in a busy band some strong station keys an edge near
//    nearly every mark of a weak one far away), unless the source's own
//    marks are mostly explained (the tones of FSK, whose products follow
//    their edges anywhere);
//  - FSK: a cluster not beside it, its marks at most 3 dB weaker, takes
//    turns with it: each of this cluster's last kFskMarks marks fills one
//    gap of the other (its fall and rise), and the other's marks fill the
//    gaps between them;
//  - a crowd (a crash, a syllable): marks of kCrowd clusters not beside it,
//    at most 6 dB weaker.
//  - a tail: a mark of at most kClickTicks starting up to kTailTicks after
//    the fall of a cluster beside it kTailDb stronger (what a strong
//    station leaves 50 Hz away just after each key-up). Where the front end
//    takes a station's clicks and tails out of this cluster (set_taken_out:
//    its model subtracted, with most of its key edges placed on their
//    carrier), what is left of them lies kTakenOutDb under it: a weak
//    station's own marks beside a strong one were explained as its clicks
//    and tails (74 of a +4 dB contest station's 330 beside one 18 dB over
//    it, 72 Hz away) and, with its share so raised, 20 of them dropped. A
//    50 WPM station's dots end before their edges can be placed, and its
//    clicks stay: taken out regardless, they printed 84 characters a
//    minute beside it;
//  - a copy: the same mark on a cluster beside it, stronger, whose own
//    marks are mostly explained;
//  - a weaker view: a mark within one mark of a cluster keying the same
//    tone kViewDb stronger, or its tail: from up to kViewLeadTicks before
//    its start to kTailTicks after its fall (a station between two
//    centres, heard on the nearer one, or the one retuned onto it, through
//    the middle of its channel filter, and on the other down its skirt,
//    where it keys the station's marks a little early and long, or
//    fragments of them as the filter rings at the station's edges);
//  - a twin: the same mark (its edges within kTurnTicks) on a cluster
//    keying the same tone within kViewDb of it, whose tone lies kTwinHz
//    nearer its centre. A station between two centres is heard alike on
//    both, and was printed twice while the better view had to stand 3 dB
//    over the other. Half way, neither view is the better one until the
//    cluster retuned onto it stands louder: their tones, learnt through
//    the channel filters' edges, are pulled towards both centres alike at
//    first, and a tie broken then dropped the first characters on the
//    cluster that keeps the station.
// Clusters are beside each other (may see one station alike) when their
// tones lie within kSameToneHz or their centres within kNearHz. Two
// stations of one speed and strength line up now and then by chance; they
// explain each other only as products would, never at like levels.
//
// Independent stations explain each other's marks only by chance, now and
// then; a cluster that keys products has nearly every mark explained. Each
// cluster keeps the share of its recent marks that were explained; a mark is
// dropped when it is explained and that share is above kDropExplained, or
// when the share is above kDropAll whatever the mark (a product's own odd
// fragments). A cluster starts with the share at kStartShare, so its first
// explained marks already go.
//
// One cluster may be a reference: the power of the whole band, keyed where
// a keyed signal dominates it (products of a station outside the front
// end's clusters follow its edges). Its marks are never dropped. It
// explains a mark only
//  - as the source of a product kReferenceDb over it;
//  - as the source of a click about one of its edges kRefClickDb over it
//    (a clean recording's codec noise some 64 dB under its station, 400 Hz
//    away on a group of clusters without it, keyed short marks from a
//    little before each of the station's rises: the codec spreads a
//    transient over its block);
//  - of such a click kOutsideClickDb over it where the other clusters do
//    not hold that edge: their marks about it sum to more than kHeldDb
//    under it (one station keying it stands within that, and so, together,
//    do many keying at once, whose sum the band's power is: 49 stations
//    each 17 dB under it). A station just outside the clusters left its
//    keying sidebands on the outermost cluster some 30 dB under it from
//    150-250 Hz away;
//  - of such a click kEdgeClickDb over it on the clusters less than kEdgeHz
//    inside the outermost centre: a station 45-100 Hz beyond it stands
//    only 12-25 dB over what their filters' skirts keep of it, and their
//    coherent windows, turning its tone away, keep only its edges
//    ("ehseihe ehseihe e5i"). Where a group of clusters meets the next,
//    those are the clusters it runs to guard against the next group's
//    stations, whose text it leaves to that group;
//  - of any mark within one of its own marks kRangeDb over it: what a
//    receiver's dynamic range hides (group_floor.h) once the band's
//    strongest carrier is known. The clusters learn that carrier from
//    their own marks, and a station beyond the span, seen on the edge
//    cluster 20 dB under itself, left the products of its rounding to 16
//    bits, 81 dB under it, keyed 2000 Hz away ("a i rk a eo g t wm").
// Its rise may lead the mark's start by kRefStartTicks and its fall the
// mark's end by kRefEndTicks (it is keyed on the raw input, the weak
// products' marks on averages).
//
// Marks are judged kRefEndTicks after they end; the key states come out
// kDelayTicks after they went in, with the dropped marks keyed up. A mark
// longer than kDelayTicks - kRefEndTicks - 1 is judged unexplained (carriers,
// the dashes of very slow Morse).
//
// Life cycle: the constructor allocates everything; push() allocates
// nothing.
#pragma once

#include <algorithm>
#include <vector>

namespace talvo {

class BandGate {
 public:
  static constexpr int kDelayTicks = 200;     // from a key state in to out, ticks
  static constexpr int kEdgeTicks = 4;        // edges this close coincide, ticks
  static constexpr int kTailTicks = 30;       // a tail starts at most this after a fall, ticks
  static constexpr int kViewLeadTicks = 12;   // a weaker view's mark leads the better one's, ticks
  static constexpr double kTailDb = 15;       // the strong signal over its tail, at least
  static constexpr double kTakenOutDb = 35;   // ... and over a click or tail taken out, at least
  static constexpr int kClickTicks = 20;      // a click lasts at most this after its edge, ticks
  static constexpr int kRefStartTicks = 16;   // the reference's rise this close to a start, ticks
  static constexpr int kRefEndTicks = 8;      // its fall this close to an end, ticks
  static constexpr double kReferenceDb = 30;  // the reference over a mark it explains, at least
  static constexpr double kRefClickDb = 45;   // ... over a click at one of its edges, at least
  static constexpr double kOutsideClickDb = 25;  // ... where the clusters do not hold it, at least
  static constexpr double kEdgeClickDb = 10;     // ... and on the clusters at the edge, at least
  static constexpr double kEdgeHz = 100;  // clusters this near the outermost centre are at the edge
  static constexpr double kHeldDb = 10;   // clusters keying the reference's edge, at most under it
  static constexpr double kRangeDb = 70;  // the reference over a mark within its own, at least
  static constexpr double kProductDb = 10;       // a product's source over it, at least
  static constexpr double kLoneProductDb = 30;   // ... with no earlier mark of it to show it
  static constexpr double kViewDb = 1;           // the same tone's better view over it, at least
  static constexpr double kClickDbPerHz = 0.06;  // a click's source more per Hz beyond kNearHz
  static constexpr double kClickFarDb = 20;      // and at most this much more, dB
  static constexpr double kFskDb = -10;          // the other FSK tone's level over it, at least
  static constexpr double kCrowdDb = -6;         // levels of a crowd's marks over it, at least
  static constexpr int kTurnTicks = 8;           // FSK's tones take turns this closely, ticks
  static constexpr int kFskMarks = 2;  // marks of a cluster that take turns with FSK's other tone
  static constexpr int kFollowMarks = 3;     // marks before one that show a product's source
  static constexpr int kCrowd = 8;           // other clusters keyed at once make a crowd
  static constexpr double kSameToneHz = 20;  // tones closer than this are the same
  static constexpr double kTwinHz = 3;       // a like view's tone this much nearer its centre, Hz
  static constexpr double kNearHz = 60;      // centres closer than this see one station
  static constexpr double kShareStep = 0.2;  // weight of the newest mark in the share
  static constexpr double kStartShare = 0.5;
  static constexpr double kDropExplained = 0.5;
  static constexpr double kDropAll = 0.7;

  explicit BandGate(int clusters);

  void reset();
  int clusters() const { return n_; }
  // Cluster q's centre frequency, Hz.
  void set_centre(int q, double hz) { centre_[static_cast<std::size_t>(q)] = hz; }
  // Cluster q is the reference (-1: none).
  void set_reference(int q) { ref_ = q; }
  // The front end takes cluster q's key clicks and tails out of the
  // clusters from near_hz to far_hz off q's tone (its station is subtracted
  // with a model that fits its edges), until told otherwise.
  void set_taken_out(int q, bool on) { taken_[static_cast<std::size_t>(q)] = on ? 1 : 0; }
  void set_taken_out_reach(double near_hz, double far_hz) {
    taken_near_hz_ = near_hz;
    taken_far_hz_ = far_hz;
  }

  // One tick: each cluster's key state (0 key up, else down) and power
  // level (any units, the same for all clusters), and the tone it keys on,
  // Hz. Returns each cluster's key state kDelayTicks ticks ago (zeros
  // before that many ticks went in), with dropped marks keyed up.
  const double* push(const double* key, const double* level, const double* tone_hz);

  // Cluster q's share of recent marks explained by another cluster.
  double share(int q) const { return share_[static_cast<std::size_t>(q)]; }
  // Marks judged and dropped so far, over all clusters.
  long long judged() const { return judged_; }
  long long dropped() const { return dropped_; }

 private:
  static constexpr int kMarks = 32;  // marks each cluster remembers

  struct Mark {
    long long start = 0;  // its first tick
    long long end = 0;    // its first key-up tick
    double level = 0;     // its mean level
  };
  struct Cluster {
    Mark marks[kMarks];    // its recent marks that ended, the newest at (count - 1) % kMarks
    int count = 0;         // marks recorded
    bool down = false;     // key down at the last tick
    long long start = -1;  // the open or last mark's first tick
    long long end = -1;    // the last mark's first key-up tick, -1 while open
    bool judged = true;    // the last mark was judged
    double sum = 0;        // level summed over the open or last mark
  };

  void edges(int q, double key, double level);
  void judge(int q, long long end);
  bool explained(int q, long long start, long long end, double level) const;
  bool takes_turns(int q, int r, double need) const;
  bool followed(int q, int r, long long start) const;
  bool held(int q, long long edge, double level) const;
  bool at_edge(int q) const;
  bool better_view(int a, double a_level, int b, double b_level) const;
  // The mean level of o's open mark so far (o keyed down).
  double open_level(const Cluster& o) const {
    return o.sum / static_cast<double>(std::max(1LL, t_ + 1 - o.start));
  }
  double& slot(long long t, int q) {
    return ring_[static_cast<std::size_t>(t % kDelayTicks) * static_cast<std::size_t>(n_) +
                 static_cast<std::size_t>(q)];
  }

  int n_;
  int ref_ = -1;                // the reference cluster, -1 for none
  long long t_ = 0;             // ticks pushed so far
  std::vector<double> ring_;    // key states of the last kDelayTicks ticks, per cluster
  std::vector<double> out_;     // the states handed out
  std::vector<double> tone_;    // each cluster's tone at the last push, Hz
  std::vector<double> centre_;  // each cluster's centre, Hz
  std::vector<Cluster> c_;
  std::vector<double> share_;  // per cluster, share of explained marks
  std::vector<char> taken_;    // per cluster, its clicks and tails are taken out (1) or not
  double taken_near_hz_ = 0, taken_far_hz_ = 0;  // where, off its tone, Hz
  long long judged_ = 0, dropped_ = 0;
};

}  // namespace talvo
