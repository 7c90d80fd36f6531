'use strict';
// People working together beyond one topic: an administrator makes a
// sub-topic and grants it, and others find it at their next login; groups
// made and filled; chats started, written and listed.
const { test, before } = require('node:test');
const assert = require('node:assert/strict');
const { start, axe } = require('./harness');

let site;
let ada;
let alice;
let bob;
before(async () => {
  site = await start();
  ada = await site.openAs('ada');
  alice = await site.openAs('alice');
  bob = await site.openAs('bob');
});

async function manage(page) {
  await page.getByRole('button', { name: /Menu/ }).click();
  await page.getByRole('menuitem', { name: 'Groups and topics' }).click();
  await page.getByRole('tab', { name: 'Groups' }).waitFor();
}

async function fillDialog(page, title, fields, ok) {
  const dialog = page.getByRole('dialog', { name: title });
  for (const [label, value] of Object.entries(fields)) await dialog.getByLabel(label, { exact: true }).fill(value);
  await dialog.getByRole('button', { name: ok }).click();
  await dialog.waitFor({ state: 'detached' });
}

const topics = (page) => page.getByRole('navigation').locator('.nav-list').first().locator('.label').allTextContents();

test('an administrator makes a sub-topic and grants it; others use it from their next login on', async () => {
  await manage(ada);
  await ada.getByRole('tab', { name: 'Topics' }).click();
  const messages = ada.getByRole('article', { name: 'Messages' });
  await messages.getByRole('button', { name: 'New sub-topic' }).click();
  await fillDialog(ada, 'New sub-topic', { Title: 'General', 'Short name': 'general' }, 'Create');
  const general = ada.getByRole('article', { name: 'General' });
  await general.waitFor();
  assert.deepEqual(await topics(ada), ['Messages', 'General']);
  // Left empty, the grant is for everyone.
  await general.getByRole('button', { name: 'Grant access' }).click();
  await general.getByRole('list', { name: 'Who may use it' }).getByText('Everyone').waitFor();
  assert.deepEqual(await axe(ada), []);

  // Not an administrator: no topics to manage, and a topic that is not hers refused.
  await manage(alice);
  assert.equal(await alice.getByRole('tab', { name: 'Topics' }).count(), 0);
  assert.deepEqual(await topics(alice), ['Messages']);
  await alice.reload();
  await alice.getByRole('navigation').getByRole('link', { name: 'General' }).click();
  const box = alice.getByRole('textbox', { name: 'Start a discussion in General' });
  await box.fill('Hello general');
  await box.press('Enter');
  await alice.locator('.disc', { hasText: 'Hello general' }).locator('.msg-state').waitFor({ state: 'detached' });

  // Ada, who made it, hears of it at once.
  const link = ada.getByRole('navigation').getByRole('link', { name: /^General/ });
  await link.locator('.badge').filter({ hasText: '1' }).waitFor({ timeout: 5000 });
});

test('groups are made, filled and renamed, and every member sees them', async () => {
  await manage(alice);
  await alice.getByRole('button', { name: 'New group' }).click();
  await fillDialog(alice, 'New group', { Name: 'Launch crew', 'Short name': 'crew' }, 'Create');
  const crew = alice.getByRole('article', { name: 'Launch crew' });
  await crew.getByText('messages?crew').waitFor();
  await crew.getByRole('combobox', { name: 'Name of the person' }).fill('bob');
  await crew.getByRole('button', { name: 'Add member' }).click();
  const members = crew.getByRole('list', { name: 'Members' });
  await members.getByText('Bob Baker').waitFor();
  assert.match(await members.locator('li', { hasText: 'Alice Archer' }).textContent(), /Administrator/);

  await crew.getByRole('button', { name: 'Actions for Launch crew' }).click();
  await alice.getByRole('menuitem', { name: 'Rename' }).click();
  await fillDialog(alice, 'Rename', { Name: 'Launch team' }, 'Save');
  await alice.getByRole('article', { name: 'Launch team' }).waitFor();

  await bob.reload();
  await manage(bob);
  const seen = bob.getByRole('article', { name: 'Launch team' });
  await seen.getByRole('list', { name: 'Members' }).getByText('Alice Archer').waitFor();
});

test('chats are started, written, read back and listed, with a person or a group', async () => {
  await alice.getByRole('navigation').getByRole('button', { name: 'New chat' }).click();
  await fillDialog(alice, 'New chat', { 'Name of the person or group': 'bob' }, 'Start chat');
  const write = async (text) => {
    const box = alice.locator('.chat-view').getByRole('textbox');
    await box.fill(text);
    await box.press('Enter');
    await alice.locator('.chat-view .msg', { hasText: text }).locator('.msg-state').waitFor({ state: 'detached' });
  };
  await write('Hi Bob, a minute?');
  await write('About **Friday**');

  // Read back in the order written, after a reload, under the person's name.
  await alice.reload();
  const chats = alice.getByRole('navigation').locator('.nav-list').nth(2);
  await chats.getByRole('link', { name: 'Bob Baker' }).click();
  await alice.locator('.chat-view h2', { hasText: 'Bob Baker' }).waitFor();
  await alice.locator('.chat-view .msg').nth(1).waitFor();
  assert.deepEqual(await alice.locator('.chat-view .msg-text').allTextContents(), ['Hi Bob, a minute?', 'About Friday']);

  // A group chat from the group's card.
  await manage(alice);
  await alice.getByRole('article', { name: 'Launch team' }).getByRole('button', { name: 'Group chat' }).click();
  await alice.locator('.chat-view h2', { hasText: 'Launch team' }).waitFor();
  await write('Crew meets at ten');
  await alice.reload();
  await chats.getByRole('link', { name: 'Launch team' }).waitFor();
  assert.deepEqual(await chats.locator('.label').allTextContents(), ['Launch team', 'Bob Baker']);

  // The other sides: the service delivered bob's copies; he finds both chats.
  await bob.reload();
  const bobChats = bob.getByRole('navigation').locator('.nav-list').nth(2);
  await bobChats.getByRole('link', { name: 'Launch team' }).waitFor();
  await bobChats.getByRole('link', { name: /Alice/ }).click();
  await bob.locator('.chat-view .msg').nth(1).waitFor();
  assert.deepEqual(await bob.locator('.chat-view .msg-text').allTextContents(), ['Hi Bob, a minute?', 'About Friday']);
});
