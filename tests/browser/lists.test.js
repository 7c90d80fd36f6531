'use strict';
// Long lists: a topic's discussions and a discussion's replies read page
// by page while scrolling, with times that tie across page ends, neither
// repeated nor skipped; and the windowed list itself: few items in the page
// out of ten thousand, the place kept when items come in above, the bottom
// kept in a conversation, a list shown again after it was hidden, and the
// arrow keys.
const { test, before } = require('node:test');
const assert = require('node:assert/strict');
const { start } = require('./harness');

let site;
let alice;
const sql = (statement) => site.db.sql(statement, site.db.name);

before(async () => {
  site = await start();
  alice = await site.openAs('alice');
  await site.openAs('bob');
});

// In the page: scrolls the list `selector` in `step` px steps, down or up,
// until it stops moving and has read all; returns every item text seen.
function scrollThrough(page, selector, step) {
  return page.evaluate(async ([selector, step]) => {
    const frames = (n) => new Promise((r) => { const f = () => (--n ? requestAnimationFrame(f) : r()); requestAnimationFrame(f); });
    const el = document.querySelector(selector);
    const seen = [];
    // In the order the items come into view.
    const note = () => {
      const items = [...el.querySelectorAll('.items > [data-key]')];
      for (const item of step < 0 ? items.reverse() : items) {
        const text = item.querySelector('.msg-text').textContent;
        if (!seen.includes(text)) seen.push(text);
      }
    };
    let still = 0;
    while (still < 40) {
      const before = el.scrollTop;
      el.scrollTop += step;
      await frames(2);
      note();
      const busy = el.getAttribute('aria-busy') === 'true';
      still = el.scrollTop === before && !busy ? still + 1 : 0;
    }
    return seen;
  }, [selector, step]);
}

test('a topic of 70 discussions is read to its end while scrolling, each once, latest first', async () => {
  // Times in pairs, so that page ends fall between equal times.
  sql(`WITH d AS (INSERT INTO discussions (topic, time) SELECT (SELECT id FROM objects WHERE sip='messages'), 1700000000000 + (n / 2) * 1000 FROM generate_series(1, 70) n RETURNING id, time)
       INSERT INTO messages (adds_to, author, text, time) SELECT id, (SELECT id FROM objects WHERE sip='bob'), 'Topic item ' || ((time - 1700000000000) / 1000) || '.' || id, time FROM d`);
  await alice.reload();
  await alice.locator('.disc').first().waitFor();
  const seen = await scrollThrough(alice, '.windowed.discussions', 300);
  assert.equal(seen.length, 70);
  const times = seen.map((t) => Number(t.split(' ')[2].split('.')[0]));
  assert.deepEqual(times, [...times].sort((a, b) => b - a));
  assert.equal(await alice.locator('.discussions [data-key]').first().getAttribute('aria-setsize'), '70');
  assert.ok((await alice.locator('.discussions [data-key]').count()) < 40, 'only the items near the view are in the page');
  await alice.getByText('That is all.').waitFor();
});

test('a discussion of 100 replies reads back to its start while scrolling up, in order, keeping its place', async () => {
  const discussion = sql(`SELECT id FROM discussions ORDER BY time DESC, id DESC LIMIT 1`);
  sql(`INSERT INTO messages (adds_to, replies_to, author, text, time)
       SELECT ${discussion}, (SELECT id FROM messages WHERE adds_to=${discussion} AND replies_to IS NULL), (SELECT id FROM objects WHERE sip='bob'),
              'Reply ' || n, 1800000000000 + (n / 3) * 1000 FROM generate_series(1, 100) n`);
  await alice.reload();
  await alice.locator('.disc').first().click();
  await alice.locator('.replies .msg', { hasText: 'Reply 100' }).waitFor();
  const seen = await scrollThrough(alice, '.windowed.replies', -400);
  const replies = seen.filter((t) => t.startsWith('Reply '));
  assert.equal(new Set(replies).size, 100);
  // Messages of equal time come in no fixed order; the times do.
  const times = replies.map((t) => Math.floor(Number(t.slice(6)) / 3));
  assert.deepEqual(times, [...times].sort((a, b) => b - a), 'seen while going up: newest first');
  await alice.locator('.replies .root .msg').waitFor();
});

test('the windowed list shows few of many items, keeps its place and its bottom, comes back after hiding, and moves with the arrow keys', async () => {
  await alice.evaluate(async () => {
    const { WindowedList } = await import('./web/ui1.scrolling/solvantique.ui1.scrolling.js');
    window.frames3 = (n = 3) => new Promise((r) => { const f = () => (--n ? requestAnimationFrame(f) : r()); requestAnimationFrame(f); });
    window.keys = Array.from({ length: 10000 }, (_, i) => 'k' + i);
    const box = document.createElement('div');
    box.style.cssText = 'position:fixed;inset:0 auto auto 0;width:320px;height:400px;display:flex;flex-direction:column;z-index:99;background:#fff';
    document.body.append(box);
    window.box = box;
    // Items of many heights, always the same for a key.
    window.makeList = (bottom) => {
      const list = new WindowedList({
        bottom, estimate: 50,
        render: (key) => {
          const node = document.createElement('div');
          node.textContent = key;
          node.style.height = 20 + ((key.length * 7 + key.charCodeAt(key.length - 1)) % 60) + 'px';
          return node;
        },
      });
      list.el.style.flex = '1';
      box.replaceChildren(list.el);
      return list;
    };
  });
  const first = await alice.evaluate(async () => {
    const list = window.makeList(false);
    list.setKeys(window.keys);
    await window.frames3();
    const inPage = list.items.querySelectorAll('[data-key]').length;
    list.scrollToKey('k5000', 'start');
    await window.frames3();
    const before = list.nodes.get('k5000').getBoundingClientRect().top;
    list.setKeys([...Array.from({ length: 300 }, (_, i) => 'new' + i), ...window.keys]);
    await window.frames3();
    const moved = Math.abs(list.nodes.get('k5000').getBoundingClientRect().top - before);
    list.nodes.get('k5000').focus();
    return { inPage, moved };
  });
  assert.ok(first.inPage > 0 && first.inPage < 80, `${first.inPage} of 10000 in the page`);
  assert.ok(first.moved < 1, `moved by ${first.moved} px`);
  await alice.keyboard.press('ArrowDown');
  await alice.keyboard.press('ArrowDown');
  await alice.keyboard.press('ArrowUp');
  assert.equal(await alice.evaluate(() => document.activeElement.dataset.key), 'k5001');

  const second = await alice.evaluate(async () => {
    // A conversation stays at its bottom as messages come, unless read back.
    const list = window.makeList(true);
    list.setKeys(window.keys.slice(0, 50));
    await window.frames3();
    list.setKeys(window.keys.slice(0, 60));
    await window.frames3();
    const atBottom = list.atBottom();
    list.el.scrollTop = 0;
    await window.frames3();
    const top = list.nodes.get('k0').getBoundingClientRect().top;
    list.setKeys(['older1', 'older2', ...window.keys.slice(0, 60)]);
    await window.frames3();
    const readingBack = Math.abs(list.nodes.get('k0').getBoundingClientRect().top - top);
    // Hidden while its items change, it draws them once shown again.
    window.box.style.display = 'none';
    list.setKeys(window.keys.slice(100, 200));
    await window.frames3();
    window.box.style.display = 'flex';
    await window.frames3();
    const shownAgain = list.items.querySelectorAll('[data-key]').length;
    window.box.remove();
    return { atBottom, readingBack, shownAgain };
  });
  assert.equal(second.atBottom, true);
  assert.ok(second.readingBack < 1, `moved by ${second.readingBack} px`);
  assert.ok(second.shownAgain > 0);
});
