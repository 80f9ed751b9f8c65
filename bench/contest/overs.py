#!/usr/bin/env python3
"""Overs at two speeds on one frequency, made without project code.

A caller sends "tu 5nn 15" at one speed, the runner "tu sp4fw test" at
another, the caller "sp4fw 5nn 14" at the first again: one MP3 per over from
ebook2cw on 700 Hz (as bench/contest renders them), 0.5 s of silence
between overs besides ebook2cw's own, white noise at the SNR asked (tone
power over the noise in 500 Hz). talvo-decode decodes each file on the
clusters 650-750 Hz; the table gives per pair of speeds the 700 Hz
cluster's text and its character error rate against the sent text, and
whether the runner's "tu sp4fw test" came out whole.

Usage: overs.py TALVO_DECODE [--snr DB,...] [--speeds WPM,...] [--keep DIR]
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile

RATE = 48000
NOISE_RMS = 0.01
CALLER, RUNNER, AGAIN = 'tu 5nn 15', 'tu sp4fw test', 'sp4fw 5nn 14'


def run(cmd):
    return subprocess.run(cmd, check=True, capture_output=True, text=True)


def amplitude(snr_db):
    noise_500 = NOISE_RMS ** 2 * 500 / (RATE / 2)
    return (2 * noise_500 * 10 ** (snr_db / 10)) ** 0.5


def silence(tmp, name, secs):
    wav = os.path.join(tmp, name + '.wav')
    run(['sox', '-n', '-r', str(RATE), '-c', '1', '-e', 'float', '-b', '32', wav,
         'trim', '0', '%.3f' % secs])
    return wav


def over(tmp, name, text, wpm, snr):
    src = os.path.join(tmp, name)
    with open(src + '.txt', 'w') as f:
        f.write(text.upper() + '\n')
    run(['ebook2cw', '-w', str(wpm), '-f', '700', '-s', str(RATE), '-b', '64',
         '-o', src + '-', src + '.txt'])
    wav = src + '.wav'
    run(['sox', src + '-0000.mp3', '-r', str(RATE), '-c', '1', '-e', 'float', '-b', '32', wav,
         'norm', '0', 'vol', '%.6f' % amplitude(snr)])
    return wav


def band(tmp, a, b, snr):
    parts = [silence(tmp, 'lead', 1.0)]
    for n, (text, wpm) in enumerate([(CALLER, a), (RUNNER, b), (AGAIN, a)]):
        parts += [over(tmp, 'o%d' % n, text, wpm, snr), silence(tmp, 'g%d' % n, 0.5)]
    parts.append(silence(tmp, 'tail', 2.0))
    track = os.path.join(tmp, 'track.wav')
    run(['sox'] + parts + [track])
    secs = float(run(['soxi', '-D', track]).stdout)
    noise = os.path.join(tmp, 'noise.wav')
    run(['sox', '-R', '-n', '-r', str(RATE), '-c', '1', '-e', 'float', '-b', '32', noise,
         'synth', '%.3f' % secs, 'whitenoise', 'vol', '%.6f' % (NOISE_RMS * 3 ** 0.5)])
    mix = os.path.join(tmp, 'overs-%d-%d-%d.wav' % (a, b, snr))
    run(['sox', '-R', '-m', '-v', '1', track, '-v', '1', noise,
         '-b', '16', '-e', 'signed-integer', mix])
    return mix


def text_at_700(decode, wav):
    out = run([decode, '--threads', '1', '--span', '650-750', wav]).stdout
    for line in out.splitlines():
        m = re.match(r'\s*(\d+) Hz\s+\d+ wpm\s+-?\d+ dB  (.*)$', line)
        if m and int(m.group(1)) == 700:
            return m.group(2).strip()
    return ''


def distance(a, b):
    prev = list(range(len(b) + 1))
    for i, ca in enumerate(a, 1):
        cur = [i]
        for j, cb in enumerate(b, 1):
            cur.append(min(prev[j] + 1, cur[j - 1] + 1, prev[j - 1] + (ca != cb)))
        prev = cur
    return prev[-1]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('decode')
    ap.add_argument('--snr', default='15,6')
    ap.add_argument('--speeds', default='18,22,24,27,30,33,36,45')
    ap.add_argument('--keep', default='')
    a = ap.parse_args()
    speeds = [int(s) for s in a.speeds.split(',')]
    sent = ' '.join([CALLER, RUNNER, AGAIN])
    print('%-10s %-5s %-6s %-7s %s' % ('caller', 'runner', 'SNR', 'CER', 'text'))
    for snr in [int(s) for s in a.snr.split(',')]:
        total, whole, n = 0.0, 0, 0
        for x in speeds:
            for y in speeds:
                if x == y:
                    continue
                tmp = tempfile.mkdtemp()
                try:
                    mix = band(tmp, x, y, snr)
                    text = text_at_700(a.decode, mix)
                    if a.keep:
                        os.makedirs(a.keep, exist_ok=True)
                        shutil.copy(mix, a.keep)
                finally:
                    shutil.rmtree(tmp)
                cer = distance(sent, ' '.join(text.split())) / len(sent)
                total += cer
                whole += RUNNER in text
                n += 1
                print('%-10d %-5d %-6d %-7.3f %s' % (x, y, snr, cer, text))
        print('SNR %+d dB: %d pairs, mean CER %.3f, runner\'s "%s" whole in %d\n'
              % (snr, n, total / n, RUNNER, whole))
    return 0


if __name__ == '__main__':
    sys.exit(main())
