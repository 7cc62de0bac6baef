// ZIP files of tape images, unpacked by fflate (built into the page from npm).
'use strict';

(function () {
  // The files in the archive, without folders and the resource forks some systems add.
  function entries(bytes) {
    const found = [];
    window.fflate.unzipSync(bytes, {
      filter: (file) => {
        if (!file.name.endsWith('/') && !file.name.startsWith('__MACOSX/')) {
          found.push({ name: file.name, size: file.originalSize });
        }
        return false;
      },
    });
    return found;
  }

  // The bytes of the file `name` in the archive.
  function extract(bytes, name) {
    return window.fflate.unzipSync(bytes, { filter: (file) => file.name === name })[name];
  }

  window.tonbrix.zip = { entries, extract };
})();
