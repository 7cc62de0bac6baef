// Facts of the page alone, which its scripts take from describeFacts.
#pragma once

#include <cstdint>

// The channels of a recording that the page decodes: a browser hands over at most a
// stereo pair from line-in, and two copies of one tape are what a deck records.
inline constexpr int32_t kMaxPageChannels = 2;

// Beyond this any file in MEMFS, so a WAV (about 1.6 h at 44.1 kHz), fails like a full
// disk, and a recording the browser must decode first is refused.
inline constexpr int64_t kMaxPageFileBytes = int64_t{256} * 1024 * 1024;

// A WAV file past 4 GiB starts with this tag where others have "RIFF"; the page reads its
// samples in slices like those of any other WAV.
inline constexpr char kRf64Tag[] = "RF64";
