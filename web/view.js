// What every part of the page shows the same way: messages, sizes, times, block rows, files saved.
'use strict';

(function () {
  const $ = (id) => document.getElementById(id);

  // The module's lines go to the program output; its errors also under the section.
  function showMessages(target, lines) {
    $('program-output').textContent = lines.map((line) => line.text).join('\n');
    const errors = lines.filter((line) => line.isError).map((line) => line.text);
    $(target).textContent = errors.join('\n').trim();
  }

  function say(target, text) {
    $(target).textContent = text;
  }

  function megabytes(bytes) {
    return `${(bytes / (1024 * 1024)).toFixed(1)} MB`;
  }

  function formatTime(seconds) {
    const whole = Math.max(0, Math.floor(seconds));
    const minutes = Math.floor(whole / 60);
    return `${minutes}:${String(whole % 60).padStart(2, '0')}`;
  }

  function hex4(value) {
    return value.toString(16).toUpperCase().padStart(4, '0');
  }

  function faultText(block) {
    return [block.hce && 'HCE', block.bce && 'BCE', block.ble && 'BLE'].filter(Boolean).join(' ');
  }

  function cell(row, text, className) {
    const td = row.insertCell();
    td.textContent = text;
    if (className) {
      td.className = className;
    }
    return td;
  }

  // The listing's columns: a headerless block shows only its length.
  function fillBlockCells(row, block) {
    const headerless = block.fileType === '';
    cell(row, headerless ? '...' : `${String(block.fileNumber).padStart(2, '0')}/${block.fileType}`);
    cell(row, headerless ? '' : block.name, 'name');
    cell(row, headerless ? '' : `${block.begin} (${hex4(block.begin)}h)`, 'number');
    cell(row, `${block.length} (${hex4(block.length)}h)`, 'number');
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
    $, showMessages, say, megabytes, formatTime, faultText, cell, fillBlockCells, nextFrame, download,
  };
})();
