// The mark and space waveforms from which all sound is made.
#pragma once

#include <cstdint>

#include "core/job.h"

// The sample rates of -sr L, M and H, by the job's sampleRateIndex.
inline constexpr int32_t kSampleRates[3] = {11025, 22050, 44100};

// Sets sampleRate, markLength and spaceLength for the job's protocol, rate and speed, and
// builds both waveforms into one shared waveBuffer (markWave and spaceWave point into it).
// Without reversePhase a PMD 85 mark is a full square period starting at highLevel and a
// space the same period starting at lowLevel; Mato marks and spaces are single periods of
// 630 and 1050 Hz (735 and 1225 Hz at 11025) that share their low tail. Returns kOk or
// kErrOutOfMemory, reported.
[[nodiscard]] int32_t buildWaveforms(ConversionJob& job);
