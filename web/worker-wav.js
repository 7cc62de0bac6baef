// The decoding thread's WAV reader: a file's samples read in place, in slices, never whole.
'use strict';

(function () {
  // Runs in the worker only, from its source text (see worker.js), so it may use nothing from
  // outside itself.
  function threadWav() {
    'use strict';

    // Bytes of WAV read at a time.
    const SLICE_BYTES = 4 * 1024 * 1024;
    // Slices read ahead while one decodes: reading a file is slower than decoding it at times.
    const READ_AHEAD = 3;
    const WAVE_FORMAT_PCM = 1;
    const WAVE_FORMAT_FLOAT = 3;
    const WAVE_FORMAT_EXTENSIBLE = 0xfffe;

    // The format of a WAV file whose samples can be read in place, or a reason why not.
    async function readHeader(file) {
      const head = new DataView(await file.slice(0, 12).arrayBuffer());
      const tag = (view, at) => String.fromCharCode(...new Uint8Array(view.buffer, at, 4));
      const { wavForms, waveTag } = self.thread.facts;
      const riff = head.byteLength === 12 && wavForms.includes(tag(head, 0));
      if (!riff || tag(head, 8) !== waveTag) {
        return { reason: 'not a WAV file' };
      }
      let format = null;
      for (let at = 12; at + 8 <= file.size;) {
        const chunk = new DataView(await file.slice(at, at + 8).arrayBuffer());
        const id = tag(chunk, 0);
        const size = chunk.getUint32(4, true);
        if (id === 'fmt ') {
          const fmt = new DataView(await file.slice(at + 8, at + 8 + Math.min(size, 40)).arrayBuffer());
          if (fmt.byteLength < 16) {
            return { reason: 'its format chunk is cut short' };
          }
          let code = fmt.getUint16(0, true);
          if (code === WAVE_FORMAT_EXTENSIBLE && fmt.byteLength >= 26) {
            code = fmt.getUint16(24, true);
          }
          format = {
            isFloat: code === WAVE_FORMAT_FLOAT,
            code,
            channels: fmt.getUint16(2, true),
            rate: fmt.getUint32(4, true),
            bits: fmt.getUint16(14, true),
          };
        } else if (id === 'data') {
          if (!format) {
            return { reason: 'its samples come before their format' };
          }
          const { code, bits, isFloat, channels, rate } = format;
          const pcm = code === WAVE_FORMAT_PCM && [8, 16, 24, 32].includes(bits);
          const float = isFloat && (bits === 32 || bits === 64);
          if (!(pcm || float) || channels < 1 || rate < 1) {
            return { reason: 'a sample format this page does not read in slices' };
          }
          // A recorder that was cut off leaves a length beyond the file's end, or none at all
          // (0, or all ones as in RF64, whose true length the page does not need).
          const frameBytes = (channels * bits) / 8;
          const rest = file.size - (at + 8);
          const length = size === 0 || size === 0xffffffff ? rest : Math.min(size, rest);
          // A length stated beyond the end is what tonbrix-decode calls a recording that ended
          // early: blocks after it may be lost.
          const cutShort = size > 0 && size < 0x7fff0000 && size > rest;
          return { ...format, dataStart: at + 8, frames: Math.floor(length / frameBytes), frameBytes,
            cutShort };
        }
        at += 8 + size + (size & 1);
      }
      return { reason: 'it holds no samples' };
    }

    // The slices of the samples of `file` (whose header is `wav`), each read while the ones
    // before it decode: `next()` gives the bytes of the next slice, or null after the last;
    // `readAhead()`, called once the caller still wants them, starts the reads that follow.
    function slices(file, wav) {
      const framesPerSlice = Math.max(1, Math.floor(SLICE_BYTES / wav.frameBytes));
      const reads = [];
      let readFrom = 0;
      const readAhead = () => {
        while (reads.length < READ_AHEAD && readFrom < wav.frames) {
          const end = Math.min(readFrom + framesPerSlice, wav.frames);
          reads.push(file.slice(wav.dataStart + readFrom * wav.frameBytes,
            wav.dataStart + end * wav.frameBytes).arrayBuffer());
          readFrom = end;
        }
      };
      readAhead();
      return {
        async next() {
          return reads.length > 0 ? new Uint8Array(await reads.shift()) : null;
        },
        readAhead,
      };
    }

    // The samples of `channel` from frame `first` up to `end`, read again from the file.
    async function readChannel(file, wav, first, end, channel) {
      const bytes = await file
        .slice(wav.dataStart + first * wav.frameBytes, wav.dataStart + end * wav.frameBytes)
        .arrayBuffer();
      const view = new DataView(bytes);
      const size = wav.bits / 8;
      const out = new Float32Array(end - first);
      for (let i = 0; i < out.length; i++) {
        const at = i * wav.frameBytes + channel * size;
        out[i] = wav.isFloat ? (size === 8 ? view.getFloat64(at, true) : view.getFloat32(at, true))
          : size === 1 ? (view.getUint8(at) - 128) / 128
            : size === 2 ? view.getInt16(at, true) / 32768
              : size === 3 ? ((view.getInt16(at + 1, true) * 256) + view.getUint8(at)) / 8388608
                : view.getInt32(at, true) / 2147483648;
      }
      return out;
    }

    self.thread = self.thread || {};
    self.thread.wav = { readHeader, slices, readChannel };
  }

  window.tonbrix.workerWav = threadWav;
})();
