// The app websocket: login, requests answered by "src", live updates,
// reconnection with back-off and a queue that keeps what is sent while
// offline. It knows nothing of the app; the page hands it a login function.
import { Emitter } from '../lib1/solvantique.lib1.js';

// Delays before reconnect attempts, in ms; the last one repeats.
export const BACKOFF = [500, 1000, 2000, 4000, 8000, 15000, 30000];

// Updates carry the src of a filter, never of a request.
function isPush(msg) {
  return msg.update === true || msg.mt === 'SetUnread' || msg.mt === 'SetRead' || msg.mt === undefined;
}

export class Connection extends Emitter {
  // url: the websocket address; login(challenge) resolves to the "AppLogin"
  // members or rejects (err.status 403: the person must log in again).
  // early: {socket, received, requested, take, firstRequests}, a socket to
  // the same address that the page opened before and that sends
  // "AppChallenge" as it opens, the texts it received so far, the texts of
  // the requests the page sent on it after its login, take(), called as the
  // first start takes it over (if it is still there), which gives the
  // challenge whose "AppLogin" the page already sent on it, or null, and
  // firstRequests(members), the texts of the requests to send right after
  // the first "AppLogin" if the connection sends it. A request made with the
  // very text of one of these is not sent again: it gets that one's answer.
  constructor({ url, login, early = null, backoff = BACKOFF, pingMs = 25000, random = Math.random }) {
    super();
    this.url = url;
    this.login = login;
    this.early = early;
    this.backoff = backoff;
    this.pingMs = pingMs;
    this.random = random;
    // idle, connecting, login, online, reconnecting, stopped
    this.state = 'idle';
    this.attempt = 0;
    this.ws = null;
    this.timer = 0;
    this.pingTimer = 0;
    this.next = 0;
    // src -> requests sent or queued under it, oldest first: the service
    // answers one request at a time, so rows and results come in that order.
    this.pending = new Map();
    this.queue = [];
    this.onlineOnce = false;
    // The challenge answered on the early socket before it was taken over.
    this.earlySent = null;
    // Requests the page sent early and nobody has made yet: {text, rows,
    // result, failed, caller, claim}.
    this.adopted = [];
    this.firstRequests = early?.firstRequests ?? null;
    // While the login function works on a challenge: settles when it has
    // answered. An "AppLoginResult" that comes meanwhile (the page sent the
    // early "AppLogin") waits for it.
    this.loggingIn = null;
    addEventListener('online', () => this.state === 'reconnecting' && this.#retryNow());
  }

  start() {
    if (this.state === 'idle' || this.state === 'stopped') this.#open();
  }

  stop() {
    this.#halt();
    this.#failInFlight(true);
  }

  #halt() {
    this.#set('stopped');
    clearTimeout(this.timer);
    clearTimeout(this.pingTimer);
    this.#closeSocket();
  }

  // Nobody to log in as: wait for the person instead of retrying. What
  // was queued waits for the next login; what was sent is lost with the session.
  #refused(err) {
    this.#halt();
    this.#failInFlight(false);
    this.emit('loginFailed', err);
  }

  // Sends a request; resolves with its "...Result", calling onRow for every
  // row message before it. Sent at once when online, else when back online.
  request(msg, { onRow, timeout } = {}) {
    if (msg.src == null) msg.src = 'q' + ++this.next;
    const text = this.adopted.length ? JSON.stringify(msg) : null;
    const early = this.adopted.find((a) => a.text === text);
    if (early) {
      this.adopted.splice(this.adopted.indexOf(early), 1);
      return new Promise((resolve, reject) => early.claim({ onRow, resolve, reject }));
    }
    return new Promise((resolve, reject) => {
      const entry = { msg, result: msg.mt + 'Result', onRow, resolve, reject, sent: false, timer: 0, timeout };
      this.#srcList(msg.src).push(entry);
      if (this.state === 'online') this.#sendEntry(entry);
      else this.queue.push(entry);
    });
  }

  // A message that gets no answer (e.g. "KeepAlive").
  send(msg) {
    if (this.state === 'online') this.#write(msg);
    else this.queue.push({ msg, sent: false, fireAndForget: true });
  }

  #set(state) {
    if (this.state === state) return;
    this.state = state;
    this.emit('state', state);
  }

  #open() {
    clearTimeout(this.timer);
    this.#set(this.onlineOnce ? 'reconnecting' : 'connecting');
    const early = this.early;
    this.early = null;
    let ws = early && early.socket.readyState <= WebSocket.OPEN ? early.socket : null;
    try {
      ws ||= new WebSocket(this.url);
    } catch {
      this.#schedule();
      return;
    }
    this.ws = ws;
    ws.onopen = () => {
      if (ws !== this.ws) return;
      this.#set(this.onlineOnce ? 'reconnecting' : 'login');
      ws.send(JSON.stringify({ mt: 'AppChallenge' }));
    };
    ws.onmessage = (e) => ws === this.ws && this.#receive(e.data);
    ws.onclose = () => ws === this.ws && this.#lost();
    ws.onerror = () => {};
    if (ws !== early?.socket || ws.readyState !== WebSocket.OPEN) return;
    this.earlySent = early.take?.() ?? null;
    if (this.earlySent) this.firstRequests = null;
    for (const text of early.requested ?? []) this.#adopt(text);
    // Its challenge was asked for as it opened. What it received is read
    // after the caller's start, before anything it receives from now on.
    this.#set('login');
    queueMicrotask(() => {
      for (const data of early.received) if (ws === this.ws) this.#receive(data);
    });
  }

  #receive(data) {
    let msg;
    try {
      msg = JSON.parse(data);
    } catch {
      return;
    }
    if (msg.mt === 'AppChallengeResult') return this.#challenge(msg.challenge);
    if (msg.mt === 'AppLoginResult') {
      const ws = this.ws;
      const ok = msg.ok === true;
      if (!this.loggingIn) return this.#loggedIn(ok);
      this.loggingIn.then(() => ws === this.ws && this.#loggedIn(ok));
      return;
    }
    const list = msg.src != null && !isPush(msg) ? this.pending.get(msg.src) : null;
    const entry = list?.find((e) => e.sent);
    if (!entry) {
      this.emit('push', msg);
      return;
    }
    if (msg.mt === entry.result) {
      this.#forget(entry);
      entry.resolve(msg);
    } else if (entry.onRow) {
      entry.onRow(msg);
    }
  }

  async #challenge(challenge) {
    const ws = this.ws;
    const sent = challenge === this.earlySent;
    this.earlySent = null;
    let members;
    try {
      const answer = this.login(challenge);
      this.loggingIn = Promise.resolve(answer).then(() => {}, () => {});
      members = await answer;
    } catch (err) {
      this.loggingIn = null;
      if (ws !== this.ws) return;
      // Refused (403) or not a login the platform can make (400): asking
      // again with the same answer cannot help.
      if (err && (err.status === 403 || err.status === 400)) {
        this.#refused(err);
      } else {
        this.#closeSocket();
        this.#lost();
      }
      return;
    }
    this.loggingIn = null;
    if (sent || ws !== this.ws || ws.readyState !== WebSocket.OPEN) return;
    ws.send(JSON.stringify({ mt: 'AppLogin', ...members }));
    // The service answers in order: these come right after the login's answer.
    const first = this.firstRequests?.(members) ?? [];
    this.firstRequests = null;
    for (const text of first) {
      ws.send(text);
      this.#adopt(text);
    }
  }

  #loggedIn(ok) {
    if (!ok) {
      this.#refused({ status: 403 });
      return;
    }
    const again = this.onlineOnce;
    this.onlineOnce = true;
    this.attempt = 0;
    this.#set('online');
    // Listeners re-register what the service forgot with the old session
    // before the queue of things done offline goes out.
    this.emit('online', { again });
    const queued = this.queue;
    this.queue = [];
    for (const entry of queued) {
      if (entry.fireAndForget) this.#write(entry.msg);
      else if (this.#isPending(entry)) this.#sendEntry(entry);
    }
    this.#ping();
  }

  // A request the page sent: its rows and answer are kept until somebody
  // makes the same request, and then handed over.
  #adopt(text) {
    const msg = JSON.parse(text);
    const early = { text, rows: [], result: null, failed: null, caller: null };
    early.claim = (caller) => {
      for (const row of early.rows) caller.onRow?.(row);
      if (early.result) caller.resolve(early.result);
      else if (early.failed) caller.reject(early.failed);
      else early.caller = caller;
    };
    const entry = {
      msg, result: msg.mt + 'Result', sent: true, timer: 0,
      onRow: (row) => (early.caller ? early.caller.onRow?.(row) : early.rows.push(row)),
      resolve: (m) => (early.caller ? early.caller.resolve(m) : (early.result = m)),
      reject: (err) => (early.caller ? early.caller.reject(err) : (early.failed = err)),
    };
    // Sent before anything else under its src, so its answer comes first.
    this.#srcList(msg.src).unshift(entry);
    this.adopted.push(early);
  }

  #srcList(src) {
    if (!this.pending.has(src)) this.pending.set(src, []);
    return this.pending.get(src);
  }

  #isPending(entry) {
    return this.pending.get(entry.msg.src)?.includes(entry);
  }

  #sendEntry(entry) {
    entry.sent = true;
    if (entry.timeout) entry.timer = setTimeout(() => this.#timedOut(entry), entry.timeout);
    this.#write(entry.msg);
  }

  #write(msg) {
    try {
      this.ws.send(JSON.stringify(msg));
    } catch {
      /* the close event follows */
    }
  }

  #forget(entry) {
    clearTimeout(entry.timer);
    const list = this.pending.get(entry.msg.src);
    if (!list) return;
    const i = list.indexOf(entry);
    if (i >= 0) list.splice(i, 1);
    if (!list.length) this.pending.delete(entry.msg.src);
  }

  // A request sent and not answered in time means the session is stuck
  // (or its connection silently gone): it is dropped and made anew, and the
  // caller hears that the answer was lost with it.
  #timedOut(entry) {
    if (entry.sent && this.ws && this.state === 'online') {
      this.#closeSocket();
      this.#lost();
      return;
    }
    this.#forget(entry);
    this.queue = this.queue.filter((e) => e !== entry);
    entry.reject(Object.assign(new Error('timeout'), { timeout: true }));
  }

  // Requests already sent are lost with the session; their callers decide
  // whether to repeat them. Queued ones wait for the next session.
  #failInFlight(all) {
    // What the page asked for early is not asked for again: the session is gone.
    this.adopted = [];
    for (const list of [...this.pending.values()]) {
      for (const entry of [...list]) {
        if (!entry.sent && !all) continue;
        this.#forget(entry);
        entry.reject(Object.assign(new Error('disconnected'), { disconnected: true }));
      }
    }
    if (all) this.queue = [];
  }

  #lost() {
    clearTimeout(this.pingTimer);
    this.ws = null;
    if (this.state === 'stopped') return;
    this.#failInFlight(false);
    this.#set(this.onlineOnce ? 'reconnecting' : 'connecting');
    this.emit('offline');
    this.#schedule();
  }

  #schedule() {
    const base = this.backoff[Math.min(this.attempt, this.backoff.length - 1)];
    this.attempt++;
    // Jitter keeps many browsers from coming back in the same instant.
    const delay = base * (0.75 + this.random() * 0.5);
    this.emit('retry', { delay, attempt: this.attempt });
    this.timer = setTimeout(() => this.#open(), delay);
  }

  #retryNow() {
    clearTimeout(this.timer);
    this.#open();
  }

  #closeSocket() {
    const ws = this.ws;
    this.ws = null;
    if (ws) {
      ws.onclose = ws.onmessage = ws.onopen = null;
      try {
        ws.close();
      } catch {
        /* already closed */
      }
    }
  }

  // A session that stops answering is dropped rather than waited for.
  #ping() {
    clearTimeout(this.pingTimer);
    this.pingTimer = setTimeout(() => {
      if (this.state !== 'online') return;
      this.request({ mt: 'Test' }, { timeout: this.pingMs }).then(() => this.#ping(), () => {});
    }, this.pingMs);
  }
}
