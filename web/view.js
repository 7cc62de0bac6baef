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

  // The block's fault marks, each titled with its meaning as the module words it, and for a
  // decoded block its unknown bytes; with `sayOk`, "OK" for a whole block.
  function faultCell(row, block, sayOk) {
    const td = cell(row, '', 'faults', t('colFaults'));
    for (const { mark } of window.tonbrix.module.facts.marks) {
      if (block.marks.includes(mark)) {
        const abbr = document.createElement('abbr');
        abbr.textContent = mark;
        abbr.title = t(meaningKey(mark));
        td.append(td.childNodes.length ? ' ' : '', abbr);
      }
    }
    if (block.unknownBytes > 0) {
      td.append(td.childNodes.length ? ', ' : '', t('bytesLost', { n: block.unknownBytes }));
    }
    if (sayOk && block.whole && td.childNodes.length === 0) {
      td.textContent = t('ok');
      td.className = 'whole';
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
