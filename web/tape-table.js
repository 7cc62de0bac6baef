// The open tape's block table: a row per block, its checkboxes kept in step with the block list.
'use strict';

(function () {
  const { $, cell, fillBlockCells, faultCell, formatTime } = window.tonbrix.view;
  const { t } = window.tonbrix.i18n;

  // "1,2,3,5" as "1-3,5": the list that the checkboxes stand for.
  function compressList(numbers) {
    const parts = [];
    for (let i = 0; i < numbers.length;) {
      let j = i;
      while (j + 1 < numbers.length && numbers[j + 1] === numbers[j] + 1) {
        j++;
      }
      parts.push(j > i ? `${numbers[i]}-${numbers[j]}` : `${numbers[i]}`);
      i = j + 1;
    }
    return parts.join(',');
  }

  // The numbers up to `count` named by a block list, for the checkboxes only; the module reads
  // the list itself.
  function listedNumbers(text, count) {
    const numbers = new Set();
    for (const part of text.split(',')) {
      const match = /^\s*(\d+)\s*(?:-\s*(\d+)\s*)?$/.exec(part);
      if (match) {
        const first = Number(match[1]);
        const last = Math.min(match[2] ? Number(match[2]) : first, count);
        for (let n = first; n <= last; n++) {
          numbers.add(n);
        }
      }
    }
    return numbers;
  }

  // The table of `blocks` of the image `name` (null when none is open), ticked as the block
  // list says.
  function render(blocks, name) {
    const table = $('tape-blocks');
    const body = table.tBodies[0];
    body.replaceChildren();
    table.hidden = blocks.length === 0;
    $('legend').hidden = blocks.length === 0;
    $('tape-caption').textContent = name ? t('blocksOf', { name }) : t('blocksOfTape');
    blocks.forEach((block, index) => {
      const number = index + 1;
      const row = body.insertRow();
      row.dataset.block = number;
      row.className = 'block';
      const box = document.createElement('input');
      box.type = 'checkbox';
      box.id = `play-block-${number}`;
      box.setAttribute('aria-label', t('playBlock', { n: number }));
      row.insertCell().append(box);
      cell(row, String(number), 'number', 'BLK');
      fillBlockCells(row, block);
      faultCell(row, block, false);
      cell(row, '', 'number start', t('colStarts'));
      cell(row, '', 'number duration', t('colLasts'));
      const play = document.createElement('button');
      play.type = 'button';
      play.className = 'play-from';
      play.dataset.block = number;
      play.textContent = t('playFromHere');
      play.setAttribute('aria-label', t('playFromBlock', { n: number }));
      row.insertCell().append(play);
    });
    syncCheckboxes();
  }

  function checkboxes() {
    return [...$('tape-blocks').querySelectorAll('tbody input[type=checkbox]')];
  }

  // The block list was typed: the checkboxes follow it. There is a checkbox per block.
  function syncCheckboxes() {
    const boxes = checkboxes();
    const listed = listedNumbers($('block-list').value, boxes.length);
    for (const box of boxes) {
      box.checked = listed.has(Number(box.closest('tr').dataset.block));
    }
  }

  // A checkbox was clicked: the block list follows the checkboxes.
  function listCheckedBlocks() {
    const checked = checkboxes()
      .filter((box) => box.checked)
      .map((box) => Number(box.closest('tr').dataset.block));
    $('block-list').value = compressList(checked);
  }

  // The entry of the WAV's selection that plays block `number` first, or -1.
  function entryOf(wav, number) {
    return wav.selection.indexOf(number);
  }

  // Each row's start and length in the WAV, for the blocks that it plays.
  function showTimes(wav) {
    for (const row of $('tape-blocks').tBodies[0].rows) {
      const entry = wav ? entryOf(wav, Number(row.dataset.block)) : -1;
      const start = entry >= 0 ? wav.starts[entry] : 0;
      const end = entry >= 0 ? (wav.starts[entry + 1] ?? wav.seconds) : 0;
      row.querySelector('.start').textContent = entry >= 0 ? formatTime(start) : '';
      row.querySelector('.duration').textContent = entry >= 0 ? formatTime(end - start) : '';
    }
  }

  window.tonbrix.tapeTable = {
    compressList, render, syncCheckboxes, listCheckedBlocks, entryOf, showTimes,
  };
})();
