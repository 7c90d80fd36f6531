'use strict';
// The way in: the bare address opens the app page, a person logs in through
// the webserver's login (users file or open mode) to a logged-in websocket, a
// reload logs in again through the cookie alone (the app over the websocket
// it opened as the page loaded), and unknown paths lead back to the app. The
// login is driven from the page itself, as the client does it.
const { test, before } = require('node:test');
const assert = require('node:assert/strict');
const { start, axe, waitForLogin, loginCount } = require('./harness');

const APP_PAGE = 'solvantique-messages.htm';

// In the page: asks the webserver how to log in, opens the app websocket,
// logs in with `fields` for its challenge, and keeps the websocket open.
function loginFromPage(page, fields) {
  return page.evaluate(async (fields) => {
    const webPath = location.pathname.replace(/\/[^/]*\/[^/]*$/, '');
    const mode = await (await fetch(`/platform/login?path=${encodeURIComponent(webPath)}`)).json();
    const ws = new WebSocket(`ws://${location.host}${webPath}`);
    const next = () =>
      new Promise((resolve) => ws.addEventListener('message', (e) => resolve(JSON.parse(e.data)), { once: true }));
    await new Promise((resolve, reject) => {
      ws.onopen = resolve;
      ws.onerror = () => reject(new Error('websocket failed'));
    });
    ws.send(JSON.stringify({ mt: 'AppChallenge' }));
    const { challenge } = await next();
    const answer = await fetch('/platform/login', {
      method: 'POST',
      body: new URLSearchParams({ path: webPath, challenge, ...fields }),
    });
    if (answer.status !== 200) {
      ws.close();
      return { mode, status: answer.status };
    }
    const login = await answer.json();
    ws.send(JSON.stringify({ mt: 'AppLogin', ...login }));
    const result = await next();
    window.testSockets = [...(window.testSockets || []), ws];
    return { mode, status: 200, login, result, cookies: document.cookie };
  }, fields);
}

let site;
before(async () => {
  site = await start();
});

test('the bare address and the root open the app page', async () => {
  const page = await site.newPage();
  for (const address of [site.appUrl, site.url('/')]) {
    const response = await page.goto(address);
    assert.equal(response.status(), 200);
    assert.match(new URL(page.url()).pathname, new RegExp(`^/messages/[^/]+/${APP_PAGE}$`));
  }
});

test('a person of the users file logs in with the password, and after a reload through the cookie alone', async () => {
  // Refused logins are failed requests to the browser.
  site.allowErrors(/status of 403/);
  const page = await site.newPage();
  await page.goto(site.appUrl);
  const alice = site.people.alice;

  const wrong = await loginFromPage(page, { sip: 'alice', password: 'not-hers' });
  assert.deepEqual(wrong.mode, { mode: 'users' });
  assert.equal(wrong.status, 403);

  const first = await loginFromPage(page, { sip: alice.sip, password: alice.password });
  assert.equal(first.status, 200);
  assert.equal(first.result.mt, 'AppLoginResult');
  assert.equal(first.result.ok, true);
  assert.equal(first.login.dn, alice.dn);
  assert.deepEqual(first.login.info, { appobj: 'messages', appdn: 'Messages', apps: [], groups: [] });
  // The page never sees the login cookie, nor the password in anything it keeps.
  assert.equal(first.cookies, '');

  await page.reload();
  const again = await loginFromPage(page, {});
  assert.deepEqual(again.mode, { mode: 'users', sip: 'alice' });
  assert.equal(again.result.ok, true);
  assert.equal(again.login.sip, 'alice');

  // The administrator's login says so; logging out ends the cookie's login.
  const other = await site.newPage();
  await other.goto(site.appUrl);
  const ada = await loginFromPage(other, { sip: 'ada', password: site.people.ada.password });
  assert.equal(ada.login.info.appobj, 'messages~admin');
  assert.equal(ada.result.ok, true);
  await other.evaluate(() => fetch('/platform/logout', { method: 'POST' }));
  await other.reload();
  assert.equal((await loginFromPage(other, {})).status, 403);
});

test('the app logs in over the websocket it opens as the page loads, through the form and on the cookie', async () => {
  const context = await site.browser.newContext();
  const sockets = [];
  const logins = [];
  const sent = [];
  context.on('page', (p) => p.on('websocket', (ws) => {
    sockets.push(ws);
    ws.on('framesent', (f) => sockets.length === 2 && sent.push(JSON.parse(f.payload)));
    ws.on('framereceived', (f) => sockets.length === 2 && /"AppLoginResult"/.test(f.payload) && sent.push('answered'));
  }));
  context.on('request', (r) => r.method() === 'POST' && new URL(r.url()).pathname === '/platform/login' && logins.push(r));
  const page = await site.openAs('carol', context);
  assert.equal(sockets.length, 1, 'the form logs in over the socket opened before it');
  assert.equal(logins.length, 1);

  const seen = loginCount(page);
  await page.reload();
  await waitForLogin(page, seen);
  await page.getByRole('navigation').getByRole('link', { name: /^Messages/ }).waitFor();
  assert.equal(sockets.length, 2, 'one socket for the reload');
  assert.equal(logins.length, 2, 'the cookie asked once for the challenge');
  assert.equal(sockets[1].isClosed(), false);
  // What the person looks at is asked for right after the login, before its
  // answer, and the client takes that answer instead of asking again.
  await page.locator('.topic-view').getByText('Nothing here yet').waitFor();
  assert.deepEqual(sent.slice(0, 4).map((m) => m.mt || m), ['AppChallenge', 'AppLogin', 'SetFilter', 'answered']);
  assert.equal(sent.filter((m) => m.src === 'view:topic').length, 1, JSON.stringify(sent));
});

test('in open mode a person logs in under the name they give', async () => {
  const open = await start({ openLogin: true });
  const page = await open.newPage();
  await page.goto(open.appUrl);
  // Through the form: a name that makes no SIP name is said so, and a full
  // name logs in, shown as typed.
  open.allowErrors(/status of 400/);
  const name = page.getByLabel('Name');
  await name.fill('x'.repeat(200));
  await name.press('Enter');
  await page.getByRole('alert').filter({ hasText: 'That name cannot be used' }).waitFor();
  await page.getByLabel('Name').fill(' Zoë   Müller ');
  await page.getByLabel('Name').press('Enter');
  await page.locator('.me-name', { hasText: /^Zoë Müller$/ }).waitFor();
  const zoe = await loginFromPage(page, { sip: 'zoe' });
  assert.deepEqual(zoe.mode, { mode: 'open', sip: 'Zoë.Müller' });
  assert.equal(zoe.result.ok, true);
  assert.equal(zoe.login.info.appobj, 'messages~admin');
  await page.reload();
  assert.equal((await loginFromPage(page, {})).login.sip, 'zoe');
});

test('an unknown path shows a page that leads to the app', async () => {
  const page = await site.newPage();
  site.allowErrors(/status of 404/);
  const response = await page.goto(site.url('/messages/0/no/such/page.htm'));
  assert.equal(response.status(), 404);
  assert.deepEqual(await axe(page), []);
  await page.getByRole('link').click();
  await page.waitForURL(new RegExp(`/messages/[^/]+/${APP_PAGE}$`));
});

test('a restarted webserver has forgotten the cookie, and the password logs in again', async () => {
  site.allowErrors(/status of 403/);
  const page = await site.newPage();
  await page.goto(site.appUrl);
  const bob = site.people.bob;
  assert.equal((await loginFromPage(page, { sip: bob.sip, password: bob.password })).result.ok, true);
  await site.restartWebserver();
  await page.reload();
  assert.equal((await loginFromPage(page, {})).status, 403);
  assert.equal((await loginFromPage(page, { sip: bob.sip, password: bob.password })).result.ok, true);
});
