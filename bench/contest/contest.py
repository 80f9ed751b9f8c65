#!/usr/bin/env python3
"""Spot precision and recall on a contest band made without project code.

Each run builds a band of contest stations with ebook2cw (one MP3 per over,
each station its own speed and pitch) and sox (levels, gaps, white noise,
the mix): runners call "cq test <call>" and work callers on their frequency
("<caller>", "<caller> 5nn 14", "tu 5nn 15", "tu <call> test"); callers sit
up to 40 Hz off the runner, 22-36 WPM, 0 to +25 dB SNR (tone power over the
noise power in 500 Hz). talvo-decode decodes the mix (--format events) and
its spots are scored:
  right   a runner spotted (within 100 Hz of its frequency)
  caller  a caller spotted: the call a report was sent to (wrong)
  bust    any other call spotted (wrong)
  missed  a runner never spotted
Precision = right / (right + caller + bust), recall = right / runners.

Usage: contest.py TALVO_DECODE [--seeds N] [--first SEED] [--runners N] [--callers N]
                   [--seconds S] [--keep DIR] [-v]
-v prints the decoded text of the clusters within 60 Hz of each missed runner.
"""
import argparse
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile

SCP = '/usr/share/hamradio-files/MASTER.SCP'
RATE = 48000
NOISE_RMS = 0.01  # full-band white noise, RMS


def run(cmd, **kw):
    return subprocess.run(cmd, check=True, capture_output=True, text=True, **kw)


def known_calls(rng, n):
    calls = [l.strip() for l in open(SCP) if l.strip() and not l.startswith('#')]
    calls = [c for c in calls if re.fullmatch(r'[A-Z]{1,2}[0-9][A-Z]{1,3}', c)]
    return rng.sample(calls, n)


def unknown_calls(rng, n, known):
    scp = set(l.strip() for l in open(SCP))
    prefixes = ['DL', 'OK', 'G', 'F', 'I', 'SP', 'HA', 'OH', 'SM', 'K', 'W', 'VE', 'JA', 'LZ', 'YO']
    out = []
    while len(out) < n:
        c = rng.choice(prefixes) + str(rng.randint(1, 9)) + ''.join(
            rng.choice('ABCDEFGHIJKLMNOPQRSTUVWXYZ') for _ in range(rng.randint(2, 3)))
        if c not in scp and c not in known and c not in out:
            out.append(c)
    return out


def amplitude(snr_db):
    """Peak amplitude of a tone at `snr_db` over the noise in 500 Hz."""
    noise_500 = NOISE_RMS ** 2 * 500 / (RATE / 2)
    return (2 * noise_500 * 10 ** (snr_db / 10)) ** 0.5


class Station:
    def __init__(self, call, pitch, wpm, snr):
        self.call, self.pitch, self.wpm, self.snr = call, pitch, wpm, snr


def render_over(tmp, n, text, st):
    """One over as a float WAV at RATE at the station's level; its seconds."""
    src = os.path.join(tmp, 'over%05d' % n)
    with open(src + '.txt', 'w') as f:
        f.write(text.upper() + '\n')
    run(['ebook2cw', '-w', str(st.wpm), '-f', str(st.pitch), '-s', str(RATE), '-b', '64',
         '-o', src + '-', src + '.txt'])
    mp3 = src + '-0000.mp3'
    wav = src + '.wav'
    run(['sox', mp3, '-r', str(RATE), '-c', '1', '-e', 'float', '-b', '32', wav,
         'norm', '0', 'vol', '%.6f' % amplitude(st.snr)])
    secs = float(run(['soxi', '-D', wav]).stdout)
    return wav, secs


def silence(tmp, n, secs):
    wav = os.path.join(tmp, 'gap%05d.wav' % n)
    run(['sox', '-n', '-r', str(RATE), '-c', '1', '-e', 'float', '-b', '32', wav,
         'trim', '0', '%.3f' % secs])
    return wav


def frequency_track(tmp, idx, runner, callers, seconds, rng, counter):
    """The overs on one runner's frequency, as one WAV of `seconds`."""
    parts, t = [], 0.0

    def add(text, st):
        nonlocal t
        counter[0] += 1
        wav, secs = render_over(tmp, counter[0], text, st)
        gap = rng.uniform(0.3, 0.9)
        counter[0] += 1
        parts.extend([wav, silence(tmp, counter[0], gap)])
        t += secs + gap

    counter[0] += 1
    parts.append(silence(tmp, counter[0], rng.uniform(0.2, 6.0)))
    add('cq test %s %s' % (runner.call, runner.call), runner)
    k = 0
    while t < seconds - 25:
        c = callers[k % len(callers)]
        k += 1
        add(c.call, c)
        add('%s 5nn 14' % c.call, runner)
        add('tu 5nn %d' % rng.randint(3, 40), c)
        add('tu %s test' % runner.call, runner)
        if rng.random() < 0.5:
            add('cq test %s' % runner.call, runner)
    track = os.path.join(tmp, 'track%02d.wav' % idx)
    run(['sox'] + parts + [track, 'trim', '0', '%.3f' % seconds, 'pad', '0', '%.3f' % seconds])
    run(['sox', track, track + '.cut.wav', 'trim', '0', '%.3f' % seconds])
    os.replace(track + '.cut.wav', track)
    return track


def band(tmp, seed, n_runners, n_callers, seconds):
    rng = random.Random(seed)
    calls = known_calls(rng, (n_runners + n_callers) * 2 // 3)
    calls += unknown_calls(rng, n_runners + n_callers - len(calls), calls)
    rng.shuffle(calls)
    runners, callers = [], []
    span = (2500 - 400) / max(1, n_runners - 1)
    for i in range(n_runners):
        pitch = int(400 + i * span + rng.uniform(-30, 30))
        runners.append(Station(calls[i], pitch, rng.randint(22, 36), rng.uniform(0, 25)))
    for j in range(n_callers):
        r = runners[j % n_runners]
        callers.append(Station(calls[n_runners + j], r.pitch + rng.randint(-40, 40),
                               rng.randint(22, 36), rng.uniform(0, 25)))
    counter = [0]
    tracks = []
    for i, r in enumerate(runners):
        mine = [c for j, c in enumerate(callers) if j % n_runners == i]
        tracks.append(frequency_track(tmp, i, r, mine, seconds, rng, counter))
    noise = os.path.join(tmp, 'noise.wav')
    # synth whitenoise is uniform in [-v, v]: RMS v / sqrt(3).
    # -R: the same noise on every run, so that a band is the same for each decoder.
    run(['sox', '-R', '-n', '-r', str(RATE), '-c', '1', '-e', 'float', '-b', '32', noise,
         'synth', '%.3f' % seconds, 'whitenoise', 'vol', '%.6f' % (NOISE_RMS * 3 ** 0.5)])
    mix = os.path.join(tmp, 'band-%d.wav' % seed)
    cmd = ['sox', '-R', '-m']
    for f in tracks + [noise]:
        cmd += ['-v', '1', f]
    run(cmd + ['-b', '16', '-e', 'signed-integer', mix])
    return mix, runners, callers


def cq_band(tmp, seed, n, seconds):
    """`n` runners with known calls calling "cq test <call> <call>" for
    `seconds`, +6..+25 dB, 22-36 WPM: the mix, and per runner its station and
    the second's end of its second CQ."""
    rng = random.Random(1000 + seed)
    calls = known_calls(rng, n)
    span = (2400 - 500) / max(1, n - 1)
    runners, tracks, ends, counter = [], [], [], [0]
    for i, call in enumerate(calls):
        st = Station(call, int(500 + i * span + rng.uniform(-30, 30)), rng.randint(22, 36),
                     rng.uniform(6, 25))
        runners.append(st)
        counter[0] += 1
        start = rng.uniform(0.2, 4.0)
        parts, t, cq_ends = [silence(tmp, counter[0], start)], start, []
        while t < seconds:
            counter[0] += 1
            wav, secs = render_over(tmp, counter[0], 'cq test %s %s' % (call, call), st)
            t += secs
            cq_ends.append(t)
            gap = rng.uniform(1.5, 3.0)  # listening between CQs
            counter[0] += 1
            parts += [wav, silence(tmp, counter[0], gap)]
            t += gap
        ends.append(cq_ends[1])
        track = os.path.join(tmp, 'cq%02d.wav' % i)
        run(['sox'] + parts + [track, 'trim', '0', '%.3f' % seconds])
        tracks.append(track)
    noise = os.path.join(tmp, 'noise.wav')
    run(['sox', '-R', '-n', '-r', str(RATE), '-c', '1', '-e', 'float', '-b', '32', noise,
         'synth', '%.3f' % seconds, 'whitenoise', 'vol', '%.6f' % (NOISE_RMS * 3 ** 0.5)])
    mix = os.path.join(tmp, 'cq-%d.wav' % seed)
    cmd = ['sox', '-R', '-m']
    for f in tracks + [noise]:
        cmd += ['-v', '1', f]
    run(cmd + ['-b', '16', '-e', 'signed-integer', mix])
    return mix, runners, ends


def five_cqs(decode, seeds, first, keep):
    """The five-CQ row: when each runner is first spotted against the end of
    its second CQ."""
    print('Five runners calling CQ for 60 s (known calls, +6..+25 dB, 22-36 WPM): '
          'first spot vs the end of the second CQ')
    print('%-5s %-8s %5s %4s %8s %8s  %s' % ('seed', 'call', 'SNR', 'WPM', 'spot s', '2nd CQ s',
                                           'in time'))
    in_time = total = wrong = 0
    for seed in range(first, first + seeds):
        tmp = tempfile.mkdtemp(prefix='cq5-')
        try:
            mix, runners, ends = cq_band(tmp, seed, 5, 60)
            spots, _ = spots_of(decode, mix, times=True)
            for r, end in zip(runners, ends):
                ts = [t for call, khz, _, _, _, t in spots
                      if call == r.call and abs(khz * 1000 - (14000000 + r.pitch)) <= 100]
                ok = bool(ts) and min(ts) <= end
                in_time += ok
                total += 1
                print('%-5d %-8s %5.0f %4d %8s %8.1f  %s' % (
                    seed, r.call, r.snr, r.wpm, '%.1f' % min(ts) if ts else '-', end,
                    'yes' if ok else 'NO'))
            names = {r.call for r in runners}
            wrong += sum(1 for s in spots if s[0] not in names)
            if keep:
                os.makedirs(keep, exist_ok=True)
                shutil.copy(mix, keep)
        finally:
            shutil.rmtree(tmp)
    print('all   %d of %d spotted within their first two CQs; %d wrong spots' %
          (in_time, total, wrong))
    return in_time == total and wrong == 0


def spots_of(decode, wav, times=False):
    out = run([decode, '--format', 'events', '--dial', '14000', '--threads', '2',
               '--start-time', '2026-12-08T18:00:00Z', wav]).stdout
    spots, texts = [], {}
    for line in out.splitlines():
        t = re.search(r'"center_hz": ([0-9]+), .*"text": "((?:[^"\\]|\\.)*)"', line)
        if t:
            texts[int(t.group(1))] = texts.get(int(t.group(1)), '') + t.group(2)
        m = re.search(r'"freq_khz": ([0-9.]+), "call": "([^"]+)".*"copies": (\d+), '
                      r'"known": (\w+), "confidence": ([0-9.]+)', line)
        if m:
            spot = (m.group(2), float(m.group(1)), int(m.group(3)), m.group(4) == 'true',
                    float(m.group(5)))
            if times:
                spot += (float(re.search(r'"t": ([0-9.]+)', line).group(1)),)
            spots.append(spot)
    return spots, texts


def score(spots, runners, callers):
    right, wrong_caller, bust, seen = [], [], [], set()
    rcalls = {r.call: r for r in runners}
    ccalls = {c.call for c in callers}
    for call, khz, copies, known, conf in spots:
        r = rcalls.get(call)
        if r and abs(khz * 1000 - (14000000 + r.pitch)) <= 100:
            if call not in seen:
                right.append(call)
            seen.add(call)
        elif call in ccalls:
            wrong_caller.append((call, conf))
        else:
            bust.append((call, conf))
    missed = [r for r in runners if r.call not in seen]
    return right, wrong_caller, bust, missed


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('decode')
    ap.add_argument('--seeds', type=int, default=3)
    ap.add_argument('--first', type=int, default=1, help='first seed')
    ap.add_argument('--runners', type=int, default=8)
    ap.add_argument('--callers', type=int, default=12)
    ap.add_argument('--seconds', type=float, default=120)
    ap.add_argument('--keep', default='')
    ap.add_argument('-v', '--verbose', action='store_true',
                    help="print the text of the clusters near each missed runner")
    ap.add_argument('--five', action='store_true',
                    help='the five-CQ row instead: five runners calling CQ for a minute')
    a = ap.parse_args()
    if a.five:
        return 0 if five_cqs(a.decode, a.seeds, a.first, a.keep) else 1
    print('Contest band: %d runners, %d callers, %.0f s, 22-36 WPM, 0..+25 dB (ebook2cw, sox)'
          % (a.runners, a.callers, a.seconds))
    print('%-5s %7s %6s %6s %5s %6s %9s %7s  %s' % ('seed', 'runners', 'right', 'caller', 'bust',
                                                 'missed', 'precision', 'recall', 'missed runners (SNR dB, WPM)'))
    tot = [0, 0, 0, 0, 0]
    strong = [0, 0]  # runners at +3 dB or more: in all, spotted
    wrong_list = []
    for seed in range(a.first, a.first + a.seeds):
        tmp = tempfile.mkdtemp(prefix='contest-')
        try:
            mix, runners, callers = band(tmp, seed, a.runners, a.callers, a.seconds)
            spots, texts = spots_of(a.decode, mix)
            right, wc, bust, missed = score(spots, runners, callers)
            n_wrong = len(wc) + len(bust)
            prec = 100.0 * len(right) / max(1, len(right) + n_wrong)
            rec = 100.0 * len(right) / len(runners)
            print('%-5d %7d %6d %6d %5d %6d %8.1f%% %6.1f%%  %s' % (
                seed, len(runners), len(right), len(wc), len(bust), len(missed), prec, rec,
                ' '.join('%s(%.0f,%d)' % (r.call, r.snr, r.wpm) for r in missed)))
            if a.verbose:
                for r in missed:
                    for hz in sorted(texts):
                        if abs(hz - r.pitch) <= 60:
                            print('  %s at %d Hz, cluster %d Hz: %s' % (r.call, r.pitch, hz, texts[hz]))
            wrong_list += [(seed, 'caller', c) for c in wc] + [(seed, 'bust', b) for b in bust]
            for i, v in enumerate([len(runners), len(right), len(wc), len(bust), len(missed)]):
                tot[i] += v
            strong[0] += sum(1 for r in runners if r.snr >= 3)
            strong[1] += sum(1 for r in runners if r.snr >= 3 and r.call in right)
            if a.keep:
                os.makedirs(a.keep, exist_ok=True)
                shutil.copy(mix, a.keep)
        finally:
            shutil.rmtree(tmp)
    prec = 100.0 * tot[1] / max(1, tot[1] + tot[2] + tot[3])
    print('%-5s %7d %6d %6d %5d %6d %8.1f%% %6.1f%%  runners at +3 dB or more: %d of %d (%.1f%%)'
          % ('all', tot[0], tot[1], tot[2], tot[3], tot[4], prec, 100.0 * tot[1] / max(1, tot[0]),
             strong[1], strong[0], 100.0 * strong[1] / max(1, strong[0])))
    for seed, kind, (call, conf) in wrong_list:
        print('wrong spot, seed %d: %s %s (confidence %.2f)' % (seed, kind, call, conf))


if __name__ == '__main__':
    sys.exit(main())
