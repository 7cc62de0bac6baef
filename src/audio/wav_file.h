// The WAV output file: 44-byte RIFF/WAVE header, unsigned 8-bit mono PCM samples.
#pragma once

#include <cstdint>
#include <cstdio>

#include "core/job.h"

inline constexpr int32_t kWavHeaderLength = 44;
inline constexpr char kRiffTag[] = "RIFF";  // the file's first bytes
inline constexpr char kWaveTag[] = "WAVE";  // at byte 8
inline constexpr int32_t kWavChannels = 1;
inline constexpr int32_t kWavBitsPerSample = 8;
inline constexpr int32_t kWavSilence = 128;  // the level between the swings of a square wave

// The RIFF size field (file length - 8) is 32-bit: no file may grow beyond what it states.
inline constexpr int64_t kMaxWavFileLength = int64_t{0xFFFFFFFF} + 8;

// The creation of the WAV file, in two steps, so that an export to standard output can
// count its samples in between. prepareWav prints "Creating output WAV file: ...",
// builds the waveforms and the header record (-3). openWav refuses, before opening it, an
// output path that names the input file itself, then creates job.outputPath, or with
// toStandardOutput takes job.standardOutput (-14 when there is none), and writes the
// header with both sizes 0 (-3, -14, -16). Both report what fails; after -16 the file
// stays open for the driver to close.
[[nodiscard]] int32_t prepareWav(ConversionJob& job);
[[nodiscard]] int32_t openWav(ConversionJob& job);

// Writes the sizes of a file of `fileLength` bytes into the header record, for a stream
// that cannot go back to them.
void setWavLength(ConversionJob& job, int64_t fileLength);

// Allocates job.wavHeader and fills it from job.sampleRate. Returns kOk or -3, reported.
[[nodiscard]] int32_t buildWavHeader(ConversionJob& job);

// Writes the RIFF and data sizes into the header and closes the file; standard output
// has them already and is only flushed and closed. Returns kOk, or -15 (positioning) or
// -16 (writing, flushing or closing), reported.
[[nodiscard]] int32_t finalizeWav(ConversionJob& job);

// Appends one run of samples as a single item. False when the stream did not take it
// whole or when the file would outgrow its size fields; the caller reports -16. With no
// output open the samples are only counted.
inline bool writeSamples(ConversionJob& job, const uint8_t* samples, int32_t length) {
  job.outputLength += length;
  if (job.outputLength > kMaxWavFileLength) {
    return false;
  }
  if (!job.outputFile) {
    return true;
  }
#if defined(__GLIBC__)
  // The export is single-threaded; skipping the stream lock per waveform keeps the
  // encoder close to the speed of a plain file copy.
  return fwrite_unlocked(samples, static_cast<size_t>(length), 1, job.outputFile.get()) == 1;
#else
  return std::fwrite(samples, static_cast<size_t>(length), 1, job.outputFile.get()) == 1;
#endif
}
