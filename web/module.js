// The WebAssembly module: its start, its limits in MEMFS, and the one way to call it.
'use strict';

(function () {
  const tonbrix = (window.tonbrix ??= {});
  const ENOSPC = 51;
  const TAPE_DIR = '/tape';

  // The one way to call the module, here and in the decoding thread, which gets this
  // function's source text (see worker.js): so it may use nothing from outside itself.
  function moduleCalls() {
    const RESULT_PATH = '/result.json';
    // Everything the module prints while a call runs lands in `sink`.
    let sink = null;
    const capture = (text, isError) => {
      if (sink) {
        sink.push({ text, isError });
      }
    };

    // Calls the exported C function `name`; returns what it returned and the lines it printed.
    function call(module, name, returnType, argTypes, args) {
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

    // What the module tells of the programs without running them (describeFacts).
    function readFacts(module) {
      call(module, 'describeFacts', 'number', ['string'], [RESULT_PATH]);
      return readResult(module);
    }

    return {
      // For createTonbrix: the module's printing goes to the call that runs.
      printing: { print: (text) => capture(text, false), printErr: (text) => capture(text, true) },
      call, readResult, readFacts, RESULT_PATH,
    };
  }

  const calls = moduleCalls();
  // Until the facts are read, no limit: nothing is written before.
  let maxFileBytes = Infinity;

  const moduleReady = createTonbrix(calls.printing).then((module) => {
    module.FS.mkdir(TAPE_DIR);
    module.FS.chdir(TAPE_DIR);
    // MEMFS would grow until the tab dies. A file that outgrows what the page keeps fails
    // like a full disk instead, and the converter reports it with its own message.
    const write = module.FS.write;
    module.FS.write = (stream, buffer, offset, length, position, canOwn) => {
      if ((position ?? stream.position) + length > maxFileBytes) {
        throw new module.FS.ErrnoError(ENOSPC);
      }
      return write(stream, buffer, offset, length, position, canOwn);
    };
    tonbrix.module.facts = calls.readFacts(module);
    maxFileBytes = tonbrix.module.facts.maxFileBytes;
    return module;
  });

  tonbrix.module = {
    moduleReady,
    moduleCalls,
    callModule: calls.call,
    readResult: calls.readResult,
    facts: null, // what describeFacts tells, once `moduleReady` has resolved
    TAPE_DIR,
    RESULT_PATH: calls.RESULT_PATH,
  };
})();
