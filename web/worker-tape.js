// The converter's thread: its own copy of the module runs tonbrix on the open image, so that
// listing a tape and building its WAV never hold up the page (a long tape at the high rate
// takes a third of a second).
'use strict';

(function () {
  // Runs in the worker only, from its source text, like the decoder's thread (see worker.js).
  function tapeThread() {
    'use strict';

    const TAPE_DIR = '/tape';
    const ENOSPC = 51;
    // The page's one way to call the module (module.js), handed over in the source text.
    const calls = moduleCalls();
    // The page's limit on any file in MEMFS, from the module's facts: beyond it a WAV fails
    // like a full disk, with the converter's own message. None before the facts are read.
    let maxFileBytes = Infinity;

    const moduleReady = createTonbrix(calls.printing).then((module) => {
      module.FS.mkdir(TAPE_DIR);
      module.FS.chdir(TAPE_DIR);
      const write = module.FS.write;
      module.FS.write = (stream, buffer, offset, length, position, canOwn) => {
        if ((position ?? stream.position) + length > maxFileBytes) {
          throw new module.FS.ErrnoError(ENOSPC);
        }
        return write(stream, buffer, offset, length, position, canOwn);
      };
      maxFileBytes = calls.readFacts(module).maxFileBytes;
      return module;
    });

    function runTonbrix(module, args) {
      const { result: status, lines } = calls.call(module, 'runTonbrix', 'number',
        ['string', 'string'], [args.join('\n'), calls.RESULT_PATH]);
      return { status, result: calls.readResult(module), lines };
    }

    function unlinkIfThere(module, path) {
      if (path && module.FS.analyzePath(path).exists) {
        module.FS.unlink(path);
      }
    }

    // 'open': the image becomes the only file in the tape folder, listed; 'probe': is it one?
    // 'export': the WAV for `args`, its bytes handed over.
    function handle(module, message) {
      if (message.op === 'open') {
        for (const entry of module.FS.readdir(TAPE_DIR)) {
          if (entry !== '.' && entry !== '..') {
            module.FS.unlink(`${TAPE_DIR}/${entry}`);
          }
        }
        module.FS.writeFile(message.name, message.bytes);
        const run = runTonbrix(module, ['-list', message.name]);
        if (run.status !== 0) {
          module.FS.unlink(message.name);
        }
        return { run };
      }
      if (message.op === 'probe') {
        module.FS.writeFile('/probe.img', message.bytes);
        const run = runTonbrix(module, ['-list', '/probe.img']);
        module.FS.unlink('/probe.img');
        return { run };
      }
      const run = runTonbrix(module, message.args);
      const output = run.result.output;
      if (run.status !== 0) {
        unlinkIfThere(module, output);
        return { run };
      }
      const bytes = module.FS.readFile(output);
      module.FS.unlink(output);
      return { run, bytes, transfer: [bytes.buffer] };
    }

    let queue = Promise.resolve();
    onmessage = (event) => {
      const message = event.data;
      queue = queue.then(() => moduleReady).then((module) => {
        const { run, bytes, transfer = [] } = handle(module, message);
        postMessage({ id: message.id, run, bytes }, transfer);
      }).catch((error) => {
        postMessage({ id: message.id, error: String(error) });
      });
    };
  }

  let worker = null;
  let nextId = 1;
  const waiting = new Map();

  function start() {
    const source = `var _scriptDir;\nvar createTonbrix = ${createTonbrix};\n` +
      `var moduleCalls = ${window.tonbrix.module.moduleCalls};\n(${tapeThread})();\n`;
    const url = URL.createObjectURL(new Blob([source], { type: 'text/javascript' }));
    worker = new Worker(url);
    URL.revokeObjectURL(url);
    worker.onmessage = (event) => {
      const answer = event.data;
      const { resolve, reject } = waiting.get(answer.id);
      waiting.delete(answer.id);
      if (answer.error) {
        reject(new Error(answer.error));
      } else {
        resolve(answer);
      }
    };
  }

  // Sends `message` to the thread; resolves to { run: { status, result, lines }, bytes }.
  function call(message, transfer = []) {
    if (!worker) {
      start();
    }
    const id = nextId++;
    return new Promise((resolve, reject) => {
      waiting.set(id, { resolve, reject });
      worker.postMessage({ ...message, id }, transfer);
    });
  }

  window.tonbrix.tapeThread = { call };
})();
