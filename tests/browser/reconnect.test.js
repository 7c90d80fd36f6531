'use strict';
// Connections that fail: a webserver restart in the middle of a session,
// a post whose answer or whose request is lost with the connection, a draft
// across a reload, and the connection's own schedule of retries and its
// queue, driven with a fake websocket.
const { test, before } = require('node:test');
const assert = require('node:assert/strict');
const { start } = require('./harness');

let site;
let alice;
let bob;
before(async () => {
  site = await start();
  alice = await site.openAs('alice');
  bob = await site.openAs('bob');
});

const replies = (page) => page.locator('.discussion-view');
const replyBox = (page) => page.getByRole('textbox', { name: 'Reply', exact: true });

async function openNew(page, text) {
  const box = page.getByRole('textbox', { name: 'Start a discussion in Messages' });
  await box.fill(text);
  await box.press('Enter');
  const item = page.locator('.disc', { hasText: text });
  await item.locator('.msg-state').waitFor({ state: 'detached' });
  await item.click();
  await replies(page).locator('.root .msg', { hasText: text }).waitFor();
}

async function loginAgain(page, name) {
  const form = page.locator('.login-overlay form');
  await form.waitFor({ timeout: 30000 });
  await form.getByLabel('Name').fill(name);
  await form.getByLabel('Password').fill(site.people[name].password);
  await form.getByLabel('Password').press('Enter');
  await form.waitFor({ state: 'detached' });
}

test('after a webserver restart the page logs in again and sends what was written meanwhile', async () => {
  // The restarted webserver has forgotten the login cookies, and answers
  // 503 for the app's files until the service has linked up again.
  site.allowErrors(/status of (403|503)/);
  await openNew(alice, 'Restart drill');
  const restarted = site.restartWebserver();
  await alice.getByRole('status').filter({ hasText: /Reconnecting|Offline|Connecting/ }).first().waitFor();
  await replyBox(alice).fill('written while offline');
  await replyBox(alice).press('Enter');
  const offline = replies(alice).locator('.msg', { hasText: 'written while offline' });
  await offline.getByText('Sending').waitFor();
  await restarted;

  await loginAgain(alice, 'alice');
  await offline.locator('.msg-state').waitFor({ state: 'detached', timeout: 30000 });
  assert.equal(await replies(alice).locator('.msg', { hasText: 'written while offline' }).count(), 1);

  await loginAgain(bob, 'bob');
  await bob.locator('.disc', { hasText: 'Restart drill' }).getByText('1 reply').waitFor();
});

test('a draft stays in its composer across a reload', async () => {
  await replyBox(alice).fill('half a thought');
  await alice.waitForTimeout(600);
  await alice.reload();
  await replies(alice).locator('.root .msg', { hasText: 'Restart drill' }).waitFor();
  assert.equal(await replyBox(alice).inputValue(), 'half a thought');
  await replyBox(alice).fill('');
});

// Run before the page's own scripts: websockets that drop the connection
// when the message named in window.dropOut is sent (it never leaves) or the
// one named in window.dropIn arrives (it is never read).
function lossySockets() {
  const Real = WebSocket;
  window.WebSocket = class extends Real {
    send(data) {
      if (window.dropOut && String(data).includes(window.dropOut)) {
        window.dropOut = null;
        this.close();
        return;
      }
      super.send(data);
    }
    get onmessage() {
      return super.onmessage;
    }
    set onmessage(fn) {
      super.onmessage = fn && ((e) => {
        if (window.dropIn && String(e.data).includes(window.dropIn)) {
          window.dropIn = null;
          this.close();
          return;
        }
        fn(e);
      });
    }
  };
}

test('a post whose request or answer is lost with the connection is stored once', async () => {
  await alice.context().addInitScript(lossySockets);
  await alice.reload();
  await replies(alice).locator('.root .msg', { hasText: 'Restart drill' }).waitFor();
  for (const [drop, text] of [['dropOut', 'lost on the way out'], ['dropIn', 'answer lost on the way back']]) {
    await alice.evaluate(([name, mt]) => (window[name] = mt), [drop, drop === 'dropOut' ? '"mt":"Post"' : '"mt":"PostResult"']);
    await replyBox(alice).fill(text);
    await replyBox(alice).press('Enter');
    const mine = replies(alice).locator('.msg', { hasText: text });
    await mine.locator('.msg-state').waitFor({ state: 'detached', timeout: 30000 });
    assert.equal(await alice.evaluate((name) => window[name], drop), null, 'the connection was dropped');
    // Lists are drawn anew after a reconnect: wait for the item before counting.
    await mine.first().waitFor();
    assert.equal(await mine.count(), 1, drop);
    await bob.reload();
    await bob.locator('.disc', { hasText: 'Restart drill' }).click();
    await replies(bob).locator('.msg', { hasText: text }).waitFor();
    assert.equal(await replies(bob).locator('.msg', { hasText: text }).count(), 1, drop);
  }
});

test('the connection retries on its schedule, keeps what is sent offline in order, and fails what was in flight', async () => {
  const got = await alice.evaluate(async () => {
    const { Connection } = await import('./web/appwebsocket/solvantique.appwebsocket.Connection.js');
    const sockets = [];
    class FakeSocket {
      static OPEN = 1;
      constructor(url) {
        this.url = url;
        this.sent = [];
        this.readyState = 0;
        sockets.push(this);
      }
      send(data) {
        this.sent.push(JSON.parse(data).mt);
      }
      close() {
        this.readyState = 3;
        this.onclose?.();
      }
      open() {
        this.readyState = 1;
        this.onopen();
      }
      receive(msg) {
        this.onmessage({ data: JSON.stringify(msg) });
      }
    }
    const real = window.WebSocket;
    window.WebSocket = FakeSocket;
    const tick = () => new Promise((r) => setTimeout(r, 0));
    const out = { delays: [], states: [] };
    try {
      const conn = new Connection({ url: 'ws://fake', login: async (challenge) => ({ challenge }), backoff: [10, 20, 40], random: () => 0.5, pingMs: 1e9 });
      conn.on('retry', ({ delay }) => out.delays.push(delay));
      conn.on('state', (s) => out.states.push(s));
      conn.start();
      // Four refusals: the delays grow to the last one and stay there.
      // Each refusal waits for the retry's new socket, however slow the machine.
      for (let i = 0; i < 4; i++) {
        const before = sockets.length;
        sockets[before - 1].close();
        while (sockets.length === before) await new Promise((r) => setTimeout(r, 5));
      }
      out.sockets = sockets.length;
      // Sent while not logged in: kept, in order.
      const first = conn.request({ mt: 'First' });
      const rows = [];
      const second = conn.request({ mt: 'Second', src: 'two' }, { onRow: (r) => rows.push(r.mt) });
      const ws = sockets[sockets.length - 1];
      ws.open();
      ws.receive({ mt: 'AppChallengeResult', challenge: 'c0ffee' });
      await tick();
      ws.receive({ mt: 'AppLoginResult', ok: true });
      out.sent = ws.sent.slice();
      ws.receive({ mt: 'Row', src: 'two' });
      ws.receive({ mt: 'SecondResult', src: 'two' });
      ws.receive({ mt: 'Add', src: 'two', update: true });
      out.second = (await second).mt;
      out.rows = rows;
      // In flight when the connection goes: refused to the caller; the
      // schedule starts from the first delay again.
      ws.close();
      out.first = await first.then(() => 'answered', (e) => (e.disconnected ? 'disconnected' : 'other'));
      out.afterLogin = out.delays[out.delays.length - 1];
      conn.stop();

      // A request left unanswered past its time: the session is taken as
      // stuck, dropped and made anew, and the caller hears it was lost.
      const stuck = new Connection({ url: 'ws://fake', login: async (challenge) => ({ challenge }), backoff: [10], random: () => 0.5, pingMs: 1e9 });
      stuck.start();
      const socket = sockets[sockets.length - 1];
      socket.open();
      socket.receive({ mt: 'AppChallengeResult', challenge: 'c0ffee' });
      await tick();
      socket.receive({ mt: 'AppLoginResult', ok: true });
      out.unanswered = await stuck.request({ mt: 'Post' }, { timeout: 30 }).then(() => 'answered', (e) => (e.disconnected ? 'disconnected' : 'other'));
      out.stuckState = stuck.state;
      stuck.stop();
    } finally {
      window.WebSocket = real;
    }
    return out;
  });
  assert.deepEqual(got.delays.slice(0, 4), [10, 20, 40, 40]);
  assert.equal(got.sockets, 5);
  assert.deepEqual(got.sent, ['AppChallenge', 'AppLogin', 'First', 'Second']);
  assert.deepEqual(got.rows, ['Row']);
  assert.equal(got.second, 'SecondResult');
  assert.equal(got.first, 'disconnected');
  assert.equal(got.afterLogin, 10);
  assert.equal(got.unanswered, 'disconnected');
  assert.equal(got.stuckState, 'reconnecting');
  assert.deepEqual(got.states.slice(0, 1), ['connecting']);
  assert.ok(got.states.includes('online') && got.states.at(-1) === 'stopped', got.states.join(' '));
});
