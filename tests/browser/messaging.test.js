'use strict';
// Two people at two browsers in the one topic every login has: what one
// writes reaches the other at once, counts follow what is read, replies,
// likes, edits and deletions, completion of names and tags, text that stays
// text, search, saved filters, files, and the look at two sizes.
const { test, before } = require('node:test');
const assert = require('node:assert/strict');
const crypto = require('node:crypto');
const fs = require('node:fs');
const { start, axe, screenshot } = require('./harness');

let site;
let alice;
let bob;
before(async () => {
  site = await start();
  alice = await site.openAs('alice');
  bob = await site.openAs('bob');
});

const topicLink = (page) => page.getByRole('navigation').getByRole('link', { name: /^Messages/ });
const discussion = (page, text) => page.locator('.disc', { hasText: text });
const replies = (page) => page.locator('.discussion-view');

async function startDiscussion(page, text) {
  const box = page.getByRole('textbox', { name: 'Start a discussion in Messages' });
  await box.fill(text);
  await box.press('Enter');
  await discussion(page, text.split('\n')[0]).locator('.msg-state').waitFor({ state: 'detached' });
}

async function reply(page, text) {
  const box = page.getByRole('textbox', { name: 'Reply', exact: true });
  await box.fill(text);
  await box.press('Enter');
  await replies(page).locator('.msg', { hasText: text }).waitFor();
}

async function open(page, text) {
  await discussion(page, text).click();
  await replies(page).locator('.root .msg', { hasText: text }).waitFor();
}

test('a new discussion reaches the other browser at once and its unread count falls as it is read', async () => {
  await startDiscussion(alice, 'Launch plan for Friday #launch');
  await discussion(bob, 'Launch plan for Friday').waitFor({ timeout: 5000 });
  // The count's change is an update of its own, sent after the discussion's.
  await topicLink(bob).locator('.badge', { hasText: /^1$/ }).waitFor({ timeout: 5000 });
  assert.equal(await discussion(bob, 'Launch plan').locator('.badge').textContent(), '1');
  // Alice's own post is nothing new for her.
  assert.equal(await topicLink(alice).locator('.badge').isHidden(), true);

  await open(bob, 'Launch plan for Friday');
  await topicLink(bob).locator('.badge').waitFor({ state: 'hidden' });
  await discussion(bob, 'Launch plan').locator('.badge').waitFor({ state: 'hidden' });
});

test('replies, likes, edits and deletions as both people see them', async () => {
  await reply(bob, 'Count me in');
  // Alice's list follows: one reply, unread for her.
  const item = discussion(alice, 'Launch plan for Friday');
  await item.getByText('1 reply').waitFor({ timeout: 5000 });
  assert.equal(await item.locator('.badge').textContent(), '1');
  await open(alice, 'Launch plan for Friday');
  const bobs = replies(alice).locator('.msg', { hasText: 'Count me in' });
  await bobs.waitFor();
  await item.locator('.badge').waitFor({ state: 'hidden' });

  // Alice likes it; Bob, who has the discussion open, sees by whom.
  await bobs.getByRole('button', { name: 'Like', exact: true }).click();
  await bobs.getByRole('button', { name: 'Unlike' }).waitFor();
  const count = replies(bob).locator('.msg', { hasText: 'Count me in' }).locator('.action.likes');
  await count.waitFor({ timeout: 5000 });
  assert.equal(await count.textContent(), '1');
  await count.click();
  await bob.getByRole('dialog', { name: 'Liked by' }).getByText('Alice Archer').waitFor();
  await bob.keyboard.press('Escape');

  // Bob changes his reply; Alice reads it changed when she opens it again.
  const mine = replies(bob).locator('.msg', { hasText: 'Count me in' });
  await mine.getByRole('button', { name: 'Message actions' }).click();
  await bob.getByRole('menuitem', { name: 'Edit' }).click();
  const editor = replies(bob).getByRole('textbox', { name: 'Edit' });
  await editor.fill('Count me in, from noon');
  await editor.press('Enter');
  await replies(bob).locator('.msg', { hasText: 'from noon' }).getByText('edited').waitFor();
  await alice.getByRole('button', { name: 'Close discussion' }).click();
  await open(alice, 'Launch plan for Friday');
  await replies(alice).locator('.msg', { hasText: 'Count me in, from noon' }).waitFor();

  // Nobody but the author may change it.
  await replies(alice).locator('.msg', { hasText: 'from noon' }).getByRole('button', { name: 'Message actions' }).click();
  assert.equal(await alice.getByRole('menuitem', { name: 'Edit' }).count(), 0);
  await alice.keyboard.press('Escape');

  // Deleted after a confirmation; gone for Alice too at her next read.
  await replies(bob).locator('.msg', { hasText: 'from noon' }).getByRole('button', { name: 'Message actions' }).click();
  await bob.getByRole('menuitem', { name: 'Delete' }).click();
  await bob.getByRole('dialog', { name: 'Delete message?' }).getByRole('button', { name: 'Delete' }).click();
  await replies(bob).locator('.msg', { hasText: 'from noon' }).waitFor({ state: 'detached' });
  await alice.getByRole('button', { name: 'Close discussion' }).click();
  await open(alice, 'Launch plan for Friday');
  await replies(alice).getByText('No replies yet').waitFor();
});

test('names and tags complete as they are typed, and a mention reaches the person named', async () => {
  const box = alice.getByRole('textbox', { name: 'Reply', exact: true });
  await box.fill('');
  await box.pressSequentially('Thanks @bo');
  // A key picks the option marked active for the word as it is now: wait
  // for that mark, and for the text the pick leaves.
  const options = alice.getByRole('listbox', { name: 'Suggestions' }).filter({ visible: true });
  const picked = async (text) => {
    await alice.waitForFunction(([el, want]) => el.value === want, [await box.elementHandle(), text], { timeout: 5000 }).catch(() => {});
    assert.equal(await box.inputValue(), text);
  };
  await options.getByRole('option', { name: /Bob Baker/, selected: true }).waitFor();
  await box.press('Enter');
  await picked('Thanks @bob ');
  await box.pressSequentially('see #lau');
  await options.getByRole('option', { name: '#launch', exact: true, selected: true }).waitFor();
  await box.press('Tab');
  await picked('Thanks @bob see #launch ');
  await box.press('Enter');
  await replies(alice).locator('.msg', { hasText: 'Thanks' }).locator('.mention').waitFor();

  const mentions = bob.getByRole('navigation').getByRole('link', { name: /^Mentions/ });
  await mentions.locator('.badge').filter({ hasText: '1' }).waitFor({ timeout: 5000 });
  await mentions.click();
  await bob.locator('.results-view .msg', { hasText: 'Thanks' }).locator('.mention.me').waitFor();
});

test('what people write stays text: markup, scripts and javascript: links do nothing', async () => {
  let dialogs = 0;
  bob.on('dialog', (d) => {
    dialogs++;
    d.dismiss();
  });
  await topicLink(alice).click();
  const nasty = '<script>alert(1)</script> <img src=x onerror=alert(2)> [click](javascript:alert(3)) javascript:alert(4) **bold** `code`';
  await startDiscussion(alice, nasty);
  await topicLink(bob).click();
  await open(bob, '<script>alert(1)</script>');
  const root = replies(bob).locator('.root .msg-text');
  assert.equal(await root.locator('script, img').count(), 0);
  assert.deepEqual(await root.locator('a').evaluateAll((as) => as.map((a) => a.protocol)), []);
  assert.equal(await root.locator('strong').textContent(), 'bold');
  assert.equal(await root.locator('code').textContent(), 'code');
  assert.match(await root.textContent(), /<img src=x onerror=alert\(2\)>/);
  await root.getByText('[click](javascript:alert(3))').click();
  await bob.waitForTimeout(300);
  assert.equal(dialogs, 0);
});

test('search finds words by their beginning, marks them, and opens their discussion', async () => {
  const search = bob.getByRole('searchbox', { name: 'Search' });
  await search.fill('lau fri');
  await search.press('Enter');
  const result = bob.locator('.results-view .msg', { hasText: 'Launch plan for Friday' });
  await result.waitFor();
  assert.deepEqual(await result.locator('mark').allTextContents(), ['Lau', 'Fri']);
  await result.click();
  await replies(bob).locator('.root .msg', { hasText: 'Launch plan for Friday' }).waitFor();
  assert.equal(await bob.locator('.results-view').count(), 1, 'the results stay beside the discussion');
  assert.equal(await search.inputValue(), 'lau fri');

  await topicLink(bob).click();
  await bob.getByRole('button', { name: 'Search in Messages' }).click();
  await search.fill('launch');
  await search.press('Enter');
  await bob.locator('.results-view .note', { hasText: 'Search in Messages' }).waitFor();
  await topicLink(bob).click();
  await bob.locator('.results-view').waitFor({ state: 'detached' });
  assert.deepEqual([await search.inputValue(), await search.getAttribute('placeholder')], ['', 'Search messages'],
    'the words and the topic go with their results');
});

test('saved filters are made, shown, put in order and deleted, and stay after a reload', async () => {
  const nav = alice.getByRole('navigation');
  async function make(name, fields) {
    await nav.getByRole('button', { name: 'New filter' }).click();
    const dialog = alice.getByRole('dialog', { name: 'New filter' });
    await dialog.getByLabel('Name').fill(name);
    for (const [label, value] of Object.entries(fields)) await dialog.getByLabel(label).fill(value);
    await dialog.getByRole('button', { name: 'Save filter' }).click();
    await alice.locator('.results-view h2', { hasText: name }).waitFor();
  }
  await make('Launch', { Tag: 'launch' });
  await alice.locator('.results-view .msg', { hasText: 'Launch plan for Friday' }).waitFor();
  assert.equal(await alice.locator('.results-view .msg', { hasText: 'alert(1)' }).count(), 0);
  await make('From Bob', { Author: 'bob' });
  const filters = () => nav.locator('.nav-list').nth(1).locator('a .label').allTextContents();
  assert.deepEqual(await filters(), ['Mentions', 'Launch', 'From Bob']);

  await nav.getByRole('button', { name: 'Filter actions' }).nth(1).click();
  await alice.getByRole('menuitem', { name: 'Move up' }).click();
  await nav.locator('.nav-list').nth(1).locator('a').nth(1).filter({ hasText: 'From Bob' }).waitFor();
  await alice.reload();
  await nav.getByRole('link', { name: 'Launch' }).waitFor();
  assert.deepEqual(await filters(), ['Mentions', 'From Bob', 'Launch']);

  await nav.getByRole('link', { name: 'Launch' }).click();
  await nav.getByRole('button', { name: 'Filter actions' }).nth(1).click();
  await alice.getByRole('menuitem', { name: 'Delete filter' }).click();
  await alice.getByRole('dialog', { name: 'Delete filter' }).getByRole('button', { name: 'Delete' }).click();
  await nav.getByRole('link', { name: 'Launch' }).waitFor({ state: 'detached' });
  assert.deepEqual(await filters(), ['Mentions', 'From Bob']);
});

test('a 5 MB file dropped on the composer uploads with progress and downloads byte-identical at the other browser', async () => {
  await topicLink(alice).click();
  // A slow uplink, so that the progress can be seen.
  const cdp = await alice.context().newCDPSession(alice);
  await cdp.send('Network.emulateNetworkConditions', { offline: false, latency: 0, downloadThroughput: -1, uploadThroughput: 3 * 1024 * 1024 });
  const digest = await alice.evaluate(async () => {
    const bytes = new Uint8Array(5 * 1024 * 1024);
    for (let i = 0; i < bytes.length; i += 65536) crypto.getRandomValues(bytes.subarray(i, i + 65536));
    const pixel = Uint8Array.from(atob('iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mNk+M9QDwADhgGAWjR9awAAAABJRU5ErkJggg=='), (c) => c.charCodeAt(0));
    const drop = new DataTransfer();
    drop.items.add(new File([bytes], 'big data.bin'));
    drop.items.add(new File([pixel], 'dot.png', { type: 'image/png' }));
    const target = document.querySelector('.new-discussion .composer');
    for (const type of ['dragenter', 'dragover', 'drop']) target.dispatchEvent(new DragEvent(type, { dataTransfer: drop, bubbles: true, cancelable: true }));
    return [...new Uint8Array(await crypto.subtle.digest('SHA-256', bytes))].map((b) => b.toString(16).padStart(2, '0')).join('');
  });
  await alice.locator('.new-discussion .chip', { hasText: 'big data.bin' }).waitFor();
  const box = alice.getByRole('textbox', { name: 'Start a discussion in Messages' });
  await box.fill('The data set');
  await box.press('Enter');
  // The bar shows a part done before the whole.
  await alice.waitForFunction(() => {
    const p = document.querySelector('.disc progress');
    return p && p.value > 0 && p.value < p.max;
  }, null, { polling: 'raf', timeout: 20000 });
  await discussion(alice, 'The data set').locator('.msg-state').waitFor({ state: 'detached', timeout: 60000 });
  await cdp.detach();
  // The writer's own message lists its files once they are stored, without a reload.
  await open(alice, 'The data set');
  await replies(alice).locator('.root .files').getByRole('link', { name: 'Download big data.bin' }).waitFor({ timeout: 60000 });

  await topicLink(bob).click();
  await open(bob, 'The data set');
  const files = replies(bob).locator('.root .files');
  const image = files.getByRole('img', { name: 'dot.png' });
  await image.waitFor();
  await bob.waitForFunction((img) => img.complete && img.naturalWidth === 1, await image.elementHandle());
  const [download] = await Promise.all([bob.waitForEvent('download'), files.getByRole('link', { name: 'Download big data.bin' }).click()]);
  assert.equal(download.suggestedFilename(), 'big data.bin');
  const got = crypto.createHash('sha256').update(fs.readFileSync(await download.path())).digest('hex');
  assert.equal(got, digest);
});

test('while the page is not seen, a mention comes as a browser notification that opens its discussion', async () => {
  await bob.evaluate(() => {
    window.shown = [];
    window.Notification = class {
      static permission = 'granted';
      constructor(title, options) {
        Object.assign(this, { title, options });
        window.shown.push(this);
      }
      close() {}
    };
    Object.defineProperty(document, 'hidden', { configurable: true, get: () => true });
  });
  await topicLink(alice).click();
  await startDiscussion(alice, 'Ping @bob about the venue');
  await bob.waitForFunction(() => window.shown.length === 1);
  assert.deepEqual(await bob.evaluate(() => [window.shown[0].title, window.shown[0].options.body]), ['Alice Archer mentioned you', 'Ping @bob about the venue']);
  await bob.evaluate(() => {
    delete document.hidden;
    window.shown[0].onclick();
  });
  await replies(bob).locator('.root .msg', { hasText: 'Ping @bob about the venue' }).waitFor();
});

test('the pages pass the accessibility checks and read well on a phone and a desktop, light and dark', async () => {
  await topicLink(bob).click();
  await open(bob, 'Launch plan for Friday');
  assert.deepEqual(await axe(bob), []);
  for (const scheme of ['light', 'dark']) {
    await bob.emulateMedia({ colorScheme: scheme });
    await bob.setViewportSize({ width: 1280, height: 800 });
    assert.deepEqual(await axe(bob), [], scheme);
    await screenshot(bob, `desktop-${scheme}`);
    await bob.setViewportSize({ width: 360, height: 740 });
    await screenshot(bob, `phone-discussion-${scheme}`);
    await bob.getByRole('button', { name: 'Back' }).filter({ visible: true }).click();
    await bob.getByRole('button', { name: 'Back' }).filter({ visible: true }).click();
    await bob.getByRole('navigation').waitFor();
    assert.deepEqual(await axe(bob), [], scheme + ' phone');
    await screenshot(bob, `phone-topics-${scheme}`);
    await topicLink(bob).click();
    await open(bob, 'Launch plan for Friday');
  }
});
