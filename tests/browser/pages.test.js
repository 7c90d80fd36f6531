'use strict';
// The other pages and the keyboard: one topic, a topic read-only, one
// discussion by its number, the API page; a second tab of the same person
// whose counts follow what the first reads; the keys people use all day.
const { test, before } = require('node:test');
const assert = require('node:assert/strict');
const { start, axe } = require('./harness');

let site;
let alice;
let bob;
let pageBase;
before(async () => {
  site = await start();
  alice = await site.openAs('alice');
  bob = await site.openAs('bob');
  pageBase = alice.url().replace(/[^/]*$/, '');
  const box = alice.getByRole('textbox', { name: 'Start a discussion in Messages' });
  for (const text of ['First topic post', 'Second topic post']) {
    await box.fill(text);
    await box.press('Enter');
    await alice.locator('.disc', { hasText: text }).locator('.msg-state').waitFor({ state: 'detached' });
  }
});

async function pageOf(person, file) {
  const page = await person.context().newPage();
  await page.goto(pageBase + file);
  return page;
}

test('a second tab of the same person sees its counts fall as the first one reads', async () => {
  const second = await pageOf(bob, 'solvantique-messages.htm');
  const badge = (page) => page.getByRole('navigation').getByRole('link', { name: /^Messages/ }).locator('.badge');
  await badge(second).filter({ hasText: '2' }).waitFor();
  await bob.locator('.disc', { hasText: 'First topic post' }).click();
  await badge(second).filter({ hasText: '1' }).waitFor({ timeout: 5000 });
  await second.close();
});

test('the topic page shows one topic without the side bar; the read-only one offers no writing', async () => {
  const topic = await pageOf(bob, 'solvantique-topic.htm?topic=messages');
  await topic.locator('.disc', { hasText: 'Second topic post' }).waitFor();
  assert.equal(await topic.getByRole('navigation').count(), 0);
  await topic.getByRole('textbox', { name: 'Start a discussion in Messages' }).waitFor();

  const readOnly = await pageOf(bob, 'solvantique-topic~readonly.htm?topic=messages');
  await readOnly.getByText('This topic is read-only here.').waitFor();
  await readOnly.locator('.disc', { hasText: 'First topic post' }).click();
  await readOnly.locator('.discussion-view .root .msg', { hasText: 'First topic post' }).waitFor();
  assert.equal(await readOnly.getByRole('textbox').count(), 0);
  assert.equal(await readOnly.locator('.discussion-view').getByRole('button', { name: 'Like', exact: true }).isDisabled(), true);
  assert.equal(await readOnly.locator('.discussion-view').getByRole('button', { name: 'Reply', exact: true }).count(), 0);
  assert.deepEqual(await axe(readOnly), []);
  await topic.close();
  await readOnly.close();
});

test('the discussion page opens one discussion by its number, even one without replies', async () => {
  const id = site.db.sql(`SELECT adds_to FROM messages WHERE text='First topic post'`, site.db.name);
  const page = await pageOf(bob, `solvantique-discussion.htm?id=${id}`);
  await page.locator('.root .msg', { hasText: 'First topic post' }).waitFor();
  const box = page.getByRole('textbox', { name: 'Reply', exact: true });
  await box.fill('from the discussion page #pages');
  await box.press('Enter');
  const sent = page.locator('.msg', { hasText: 'from the discussion page' });
  await sent.locator('.msg-state').waitFor({ state: 'detached' });
  // What is not this discussion opens in the app page.
  assert.match(await sent.getByRole('link', { name: '#pages' }).getAttribute('href'), /^solvantique-messages\.htm#\/tag\/pages$/);
  await page.close();
});

test('the keys: Enter sends, Shift+Enter breaks the line, Escape closes, Ctrl+K searches', async () => {
  await alice.locator('.disc', { hasText: 'Second topic post' }).click();
  const box = alice.getByRole('textbox', { name: 'Reply', exact: true });
  await box.focus();
  await alice.keyboard.type('line one');
  await alice.keyboard.press('Shift+Enter');
  await alice.keyboard.type('line two');
  await alice.keyboard.press('Enter');
  const sent = alice.locator('.discussion-view .msg', { hasText: 'line one' });
  await sent.locator('.msg-state').waitFor({ state: 'detached' });
  assert.equal(await sent.locator('.msg-text').innerHTML(), '<p>line one<br>line two</p>');
  assert.equal(await box.inputValue(), '');

  // Escape in the empty composer closes the discussion; the list keeps the focus where it was.
  await alice.keyboard.press('Escape');
  await alice.locator('.discussion-view').waitFor({ state: 'detached' });
  await alice.keyboard.press('Control+k');
  assert.equal(await alice.evaluate(() => document.activeElement.getAttribute('aria-label')), 'Search');
  await alice.keyboard.type('line');
  await alice.keyboard.press('Enter');
  await alice.locator('.results-view .msg', { hasText: 'line one' }).waitFor();
});

test('the API page answers a request with its rows and result', async () => {
  const api = await pageOf(alice, 'solvantique-messages-api.htm');
  await api.getByRole('button', { name: 'ReadTopics' }).click();
  await api.getByRole('button', { name: 'Send', exact: true }).click();
  const log = api.getByRole('list', { name: 'Messages' });
  await log.getByText('"ReadTopicsResult"').waitFor();
  assert.ok((await log.getByText('"mt": "Topic"').count()) >= 2);
  await api.getByLabel('Request').fill('not json');
  await api.getByRole('button', { name: 'Send', exact: true }).click();
  await api.getByRole('alert').getByText('That is not a JSON object').waitFor();
  assert.deepEqual(await axe(api), []);
  await api.close();
});
