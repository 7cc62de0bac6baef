// The WebAssembly module: its start, its limits in MEMFS, and the one way to call it.
'use strict';

(function () {
  const tonbrix = (window.tonbrix ??= {});
  // Beyond this any file in MEMFS, so a WAV (about 1.6 h at 44.1 kHz), fails like a full disk.
  const MAX_FILE_BYTES = 256 * 1024 * 1024;
  const ENOSPC = 51;
  const TAPE_DIR = '/tape';
  const RESULT_PATH = '/result.json';

  // Everything the module prints while a call runs lands in `sink`.
  let sink = null;

  const moduleReady = createTonbrix({
    print: (text) => capture(text, false),
    printErr: (text) => capture(text, true),
  }).then((module) => {
    module.FS.mkdir(TAPE_DIR);
    module.FS.chdir(TAPE_DIR);
    // MEMFS would grow until the tab dies. A file that outgrows what the page keeps fails
    // like a full disk instead, and the converter reports it with its own message.
    const write = module.FS.write;
    module.FS.write = (stream, buffer, offset, length, position, canOwn) => {
      if ((position ?? stream.position) + length > MAX_FILE_BYTES) {
        throw new module.FS.ErrnoError(ENOSPC);
      }
      return write(stream, buffer, offset, length, position, canOwn);
    };
    callModule(module, 'describeFacts', 'number', ['string'], [RESULT_PATH]);
    tonbrix.module.facts = readResult(module);
    return module;
  });

  function capture(text, isError) {
    if (sink) {
      sink.push({ text, isError });
    }
  }

  // Calls the exported C function `name`; returns what it returned and the lines it printed.
  function callModule(module, name, returnType, argTypes, args) {
    const lines = [];
    sink = lines;
    try {
      return { result: module.ccall(name, returnType, argTypes, args), lines };
    } finally {
      sink = null;
    }
  }

  // The JSON that the last call wrote to RESULT_PATH.
  function readResult(module) {
    return JSON.parse(module.FS.readFile(RESULT_PATH, { encoding: 'utf8' }));
  }

  tonbrix.module = {
    moduleReady,
    callModule,
    readResult,
    facts: null, // what describeFacts tells, once `moduleReady` has resolved
    MAX_FILE_BYTES,
    TAPE_DIR,
    RESULT_PATH,
  };
})();
