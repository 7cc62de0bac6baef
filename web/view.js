// What every part of the page shows the same way: messages, sizes, times, block rows, files saved.
'use strict';

(function () {
  const $ = (id) => document.getElementById(id);
  const i18n = window.tonbrix.i18n;
  const { t } = i18n;

  // The module's lines go to the program output; its errors also under the section.
  function showMessages(target, lines) {
    i18n.forget(target);
    $('program-output').textContent = lines.map((line) => line.text).join('\n');
    const errors = lines.filter((line) => line.isError).map((line) => line.text);
    $(target).textContent = errors.join('\n').trim();
  }

  function say(target, text) {
    i18n.forget(target);
    $(target).textContent = text;
  }

  function megabytes(bytes) {
    return i18n.megabytes(bytes);
  }

  function formatTime(seconds) {
    const whole = Math.max(0, Math.floor(seconds));
    const minutes = Math.floor(whole / 60);
    return `${minutes}:${String(whole % 60).padStart(2, '0')}`;
  }

  function hex4(value) {
    return value.toString(16).toUpperCase().padStart(4, '0');
  }

  // The words of a fault mark's meaning in the page's language, by the mark the module
  // names: "HCE" is "faultHce".
  const meaningKey = (mark) => `fault${mark[0]}${mark.slice(1).toLowerCase()}`;

  // `label` names the column where a narrow screen shows the row as a card.
  function cell(row, text, className, label) {
    const td = row.insertCell();
    td.textContent = text;
    if (className) {
      td.className = className;
    }
    if (label) {
      td.dataset.label = label;
    }
    return td;
  }

  // The listing's columns: a headerless block shows only its length.
  function fillBlockCells(row, block) {
    const headerless = block.kind === 'headerless';
    cell(row, headerless ? '...' : `${String(block.fileNumber).padStart(2, '0')}/${block.fileType}`,
      '', 'NR/T');
    cell(row, headerless ? '' : block.name, 'name', t('colName'));
    cell(row, headerless ? '' : `${block.begin} (${hex4(block.begin)}h)`, 'number', t('colBegin'));
    cell(row, `${block.length} (${hex4(block.length)}h)`, 'number', t('colLength'));
  }

  // What the listing notes below a decoded block, by the counts the module gives: of a take
  // alone, its bytes in doubt; of a merged block that is damaged without being pieced
  // together or decided, the bytes disputed and in doubt, or with none of those, that its
  // takes read every byte alike.
  function doubtNotes(block) {
    const doubt = block.doubt;
    if (!doubt) {
      return [];
    }
    const counts = [['bytesUnknown', doubt.unknown], ['bytesUncertain', doubt.uncertain],
      ['bytesMissing', doubt.missing]];
    if (block.sources) {
      if (block.whole || window.tonbrix.module.facts.notedDecisions.includes(block.decision)) {
        return [];
      }
      if (doubt.unknown + doubt.missing === 0 && block.disputedBytes === 0) {
        return block.sources.length > 1 ? [t('faultOnTape', { takes: block.sources.join('+') })] : [];
      }
      counts.unshift(['bytesDisputed', block.disputedBytes]);
    }
    return counts.filter(([, n]) => n > 0).map(([key, n]) => t(key, { n }));
  }

  // The block's fault marks, each titled with its meaning as the module words it, and for a
  // decoded block what the listing notes below it (doubtNotes); with `sayOk`, "OK" for a
  // whole block.
  function faultCell(row, block, sayOk) {
    const td = cell(row, '', 'faults', t('colFaults'));
    if (sayOk && block.whole) {
      td.textContent = t('ok');
      td.className = 'whole';
    }
    for (const { mark } of window.tonbrix.module.facts.marks) {
      if (block.marks.includes(mark)) {
        const abbr = document.createElement('abbr');
        abbr.textContent = mark;
        abbr.title = t(meaningKey(mark));
        td.append(td.childNodes.length ? ' ' : '', abbr);
      }
    }
    for (const note of doubtNotes(block)) {
      td.append(td.childNodes.length ? ', ' : '', note);
    }
    return td;
  }

  // Lets the browser draw the last message before long work starts.
  function nextFrame() {
    return new Promise((resolve) => setTimeout(resolve, 0));
  }

  function download(bytes, name, type) {
    const url = URL.createObjectURL(new Blob([bytes], { type }));
    const link = document.createElement('a');
    link.href = url;
    link.download = name;
    document.body.append(link);
    link.click();
    link.remove();
    setTimeout(() => URL.revokeObjectURL(url), 60000);
  }

  window.tonbrix.view = {
    $, showMessages, say, megabytes, formatTime, cell, fillBlockCells, faultCell, nextFrame,
    download, meaningKey,
  };
})();
