// Keeps the screen on while a tape plays into the machine or a cassette records: a phone that
// locks in the middle of a seven-minute load may stop its sound.
'use strict';

(function () {
  // Who needs the screen on: 'player', 'recorder'.
  const holders = new Set();
  let lock = null;
  let asking = false;

  // A lock is let go by the browser when the page is hidden, so it is asked for again.
  async function take() {
    if (lock || asking || holders.size === 0 || document.visibilityState !== 'visible' ||
        !navigator.wakeLock) {
      return;
    }
    asking = true;
    try {
      const taken = await navigator.wakeLock.request('screen');
      taken.addEventListener('release', () => {
        if (lock === taken) {
          lock = null;
        }
      });
      lock = taken;
    } catch {
      lock = null; // refused, e.g. on battery saving: the note on the page says what to do
    } finally {
      asking = false;
    }
    if (holders.size === 0) {
      letGo();
    }
  }

  function letGo() {
    const held = lock;
    lock = null;
    held?.release().catch(() => {});
  }

  function hold(who) {
    holders.add(who);
    take();
  }

  function release(who) {
    holders.delete(who);
    if (holders.size === 0) {
      letGo();
    }
  }

  document.addEventListener('visibilitychange', take);
  document.getElementById('awake-note').hidden = 'wakeLock' in navigator;

  window.tonbrix.awake = { hold, release, isHeld: () => lock !== null };
})();
