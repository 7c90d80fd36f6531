'use strict';
// What every browser test stands on: the real platform-webserver and messages
// from the build tree, on a fresh database of the test cluster that CTest's
// "postgres" fixture starts, and Debian's chromium driven headless.
//
//   const { start, axe, screenshot } = require('./harness');
//   let site;
//   before(async () => { site = await start(); });
//   test('...', async () => { const page = await site.openAs('alice'); ... });
//
// Any console error or page error fails the test it happens in, unless the
// test expects it with site.allowErrors(/pattern/). start() may be called once
// per file; everything stops after the file's last test (and a process that
// does not exit cleanly, sanitizer reports included, fails it).
//
// The page logs in through its login form: the name in the input with
// autocomplete="username", in users mode the password in the password input,
// submitted with Enter. A page counts as logged in once its websocket has
// received an "AppLoginResult" with "ok": true.
//
// Environment (CTest sets it): MESSAGES_BIN, PLATFORM_WEBSERVER_BIN,
// MESSAGES_PG_INFO (the cluster's pg.env); CHROMIUM overrides /usr/bin/chromium.

const { after, afterEach } = require('node:test');
const { spawn, spawnSync } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { chromium } = requirePackage('playwright-core');

function requirePackage(name) {
  try {
    return require(name);
  } catch (e) {
    throw new Error(`${name} is missing: run "npm ci" in tests/browser (scripts/test.sh does)\n${e.message}`);
  }
}

const ROOT = path.resolve(__dirname, '..', '..');
const WEB_PATH = '/messages';
const APP_PASSWORD = 'browser-pw';

// The test people: one administrator, the others plain users.
const PEOPLE = {
  ada: { sip: 'ada', password: 'ada-pw', dn: 'Ada Admin', admin: true },
  alice: { sip: 'alice', password: 'alice-pw', dn: 'Alice Archer' },
  bob: { sip: 'bob', password: 'bob-pw', dn: 'Bob Baker' },
  carol: { sip: 'carol', password: 'carol-pw', dn: 'Carol Cole' },
};

function need(name) {
  const value = process.env[name];
  if (!value) throw new Error(`${name} is not set: run the browser tests through ctest`);
  return value;
}

function readEnvFile(file) {
  const values = {};
  for (const line of fs.readFileSync(file, 'utf8').split('\n')) {
    const eq = line.indexOf('=');
    if (eq > 0) values[line.slice(0, eq)] = line.slice(eq + 1);
  }
  return values;
}

// A child process whose output is kept, so that waits can look for a line
// and failures can show what it said.
class Child {
  constructor(name, args) {
    this.name = name;
    this.lines = [];
    this.waiters = [];
    this.proc = spawn(args[0], args.slice(1), { stdio: ['ignore', 'pipe', 'pipe'] });
    // "close" comes after the last output, unlike "exit".
    this.exited = new Promise((resolve) =>
      this.proc.on('close', (code, signal) => resolve(signal ? 128 + os.constants.signals[signal] : code)));
    let partial = '';
    const take = (chunk) => {
      partial += chunk;
      let nl;
      while ((nl = partial.indexOf('\n')) >= 0) {
        this.lines.push(partial.slice(0, nl));
        partial = partial.slice(nl + 1);
      }
      for (const w of this.waiters.slice()) w();
    };
    this.proc.stdout.setEncoding('utf8').on('data', take);
    this.proc.stderr.setEncoding('utf8').on('data', take);
    children.add(this);
  }

  mark() {
    return this.lines.length;
  }

  // The first line at or after `from` that contains `text`.
  waitFor(text, from = 0, timeoutMs = 30000) {
    return new Promise((resolve, reject) => {
      const fail = (why) => {
        done();
        reject(new Error(`${this.name} ${why} "${text}"\n${this.output()}`));
      };
      const check = () => {
        const line = this.lines.slice(from).find((l) => l.includes(text));
        if (line !== undefined) {
          done();
          resolve(line);
        }
      };
      const timer = setTimeout(() => fail(`did not say within ${timeoutMs} ms`), timeoutMs);
      const done = () => {
        clearTimeout(timer);
        this.waiters = this.waiters.filter((w) => w !== check);
      };
      this.waiters.push(check);
      this.exited.then(() => this.waiters.includes(check) && fail('ended without saying'));
      check();
    });
  }

  output() {
    return `${this.name} said:\n` + this.lines.slice(-60).map((l) => `  | ${l}`).join('\n');
  }

  // SIGTERM, then SIGKILL after the time limit; the exit code.
  async stop(timeoutMs = 20000) {
    if (this.proc.exitCode === null && this.proc.signalCode === null) this.proc.kill('SIGTERM');
    const timer = setTimeout(() => this.proc.kill('SIGKILL'), timeoutMs);
    const code = await this.exited;
    clearTimeout(timer);
    children.delete(this);
    return code;
  }
}

// Children never outlive a test process that ends early.
const children = new Set();
process.on('exit', () => {
  for (const c of children) c.proc.kill('SIGKILL');
});

// The test cluster's connection, and a database of this process's own on it.
class Database {
  static count = 0;

  constructor() {
    this.pg = readEnvFile(need('MESSAGES_PG_INFO'));
    this.name = `browser_${process.pid}_${Database.count++}`;
  }

  sql(statement, db = this.pg.PG_DATABASE) {
    const r = spawnSync(
      path.join(this.pg.PG_BIN, 'psql'),
      ['-X', '-q', '-t', '-A', '-v', 'ON_ERROR_STOP=1', '-h', this.pg.PG_HOST, '-p', this.pg.PG_PORT, '-U',
        this.pg.PG_USER, '-d', db, '-c', statement],
      { env: { ...process.env, PGPASSWORD: this.pg.PG_PASSWORD }, encoding: 'utf8' },
    );
    if (r.status !== 0) throw new Error(`psql: ${statement}: ${r.stderr}`);
    return r.stdout.trim();
  }

  create() {
    this.sql(`CREATE DATABASE ${this.name}`);
  }

  // An autovacuum worker on the database belongs to no role, and the server
  // refuses to end it for us: it is gone within moments, so try again.
  drop() {
    for (let attempt = 1; ; attempt++) {
      try {
        return this.sql(`DROP DATABASE IF EXISTS ${this.name} WITH (FORCE)`);
      } catch (e) {
        if (attempt >= 50 || !/pg_signal_backend/.test(e.message)) throw e;
        Atomics.wait(new Int32Array(new SharedArrayBuffer(4)), 0, 0, 100);
      }
    }
  }
}

// Per page: the errors it reported and the logins its websockets completed.
const pages = new WeakMap();

function track(site, page) {
  // counts: the page's "SetUnreadFilter" requests asked and not yet answered.
  const state = { logins: 0, loginWaiters: [], countsAsked: 0, countsOpen: 0, countWaiters: [] };
  pages.set(page, state);
  const report = (what) => {
    if (!site.allowed.some((re) => re.test(what))) site.errors.push(what);
  };
  page.on('console', (m) => m.type() === 'error' && report(`console error: ${m.text()} (${page.url()})`));
  page.on('pageerror', (e) => report(`page error: ${e.stack || e.message} (${page.url()})`));
  page.on('websocket', (ws) => {
    ws.on('framesent', (frame) => {
      const text = typeof frame.payload === 'string' ? frame.payload : '';
      if (!text.includes('"mt":"SetUnreadFilter"')) return;
      state.countsAsked++;
      state.countsOpen++;
    });
    ws.on('framereceived', (frame) => {
      const text = typeof frame.payload === 'string' ? frame.payload : '';
      if (text.includes('"SetUnreadFilterResult"') && state.countsOpen > 0 && --state.countsOpen === 0) {
        for (const w of state.countWaiters.splice(0)) w();
      }
      if (!text.includes('"AppLoginResult"')) return;
      try {
        if (JSON.parse(text).ok !== true) return;
      } catch {
        return;
      }
      state.logins++;
      for (const w of state.loginWaiters.splice(0)) w();
    });
  });
  return page;
}

// Resolves once the page's websockets have completed more than `seen` logins.
function waitForLogin(page, seen = 0, timeoutMs = 20000) {
  const state = pages.get(page);
  return new Promise((resolve, reject) => {
    if (state.logins > seen) return resolve();
    const timer = setTimeout(() => reject(new Error(`no websocket login on ${page.url()} within ${timeoutMs} ms`)), timeoutMs);
    state.loginWaiters.push(() => {
      clearTimeout(timer);
      resolve();
    });
  });
}

// Resolves once the page has asked for its unread counts and has every
// answer: a post made while a count is under way may or may not be in it.
function countsSettled(page, timeoutMs = 20000) {
  const state = pages.get(page);
  return new Promise((resolve, reject) => {
    const timer = setTimeout(() => reject(new Error(`unread counts of ${page.url()} not answered within ${timeoutMs} ms`)), timeoutMs);
    timer.unref();
    const check = () => {
      if (state.countsAsked === 0 || state.countsOpen > 0) return state.countWaiters.push(check);
      clearTimeout(timer);
      resolve();
    };
    check();
  });
}

function loginCount(page) {
  return pages.get(page).logins;
}

class Site {
  constructor(options) {
    this.openLogin = !!options.openLogin;
    this.people = PEOPLE;
    this.errors = [];
    this.allowed = [];
    this.dir = fs.mkdtempSync(path.join(os.tmpdir(), 'messages-browser-'));
    this.socket = path.join(this.dir, 'plugins.sock');
    this.db = new Database();
  }

  async start() {
    this.db.create();
    this.browser = await chromium.launch({
      executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
      // Chromium's sandbox refuses to run as root, which CI is.
      args: process.getuid && process.getuid() === 0 ? ['--no-sandbox'] : [],
    });
    await this.startWebserver('127.0.0.1:0');
    const pg = this.db.pg;
    this.service = new Child('messages', [
      need('MESSAGES_BIN'), `--webserver=${this.socket}`, `--webserver-path=${WEB_PATH}`, `--db-host=${pg.PG_ADDRESS}`,
      `--db-name=${this.db.name}`, `--db-user=${pg.PG_USER}`, `--db-password=${pg.PG_PASSWORD}`,
      `--app-password=${APP_PASSWORD}`,
      // The login's domain is the host the browser opens.
      '--app-domain=127.0.0.1',
    ]);
    await this.ready(0);
    return this;
  }

  async startWebserver(address) {
    const args = [need('PLATFORM_WEBSERVER_BIN'), `--http=${address}`, `--plugins=${this.socket}`,
      `--app=${WEB_PATH}:${APP_PASSWORD}`];
    if (this.openLogin) {
      args.push('--open-login');
    } else {
      const users = path.join(this.dir, 'users');
      const lines = Object.values(this.people).map((p) => `${p.sip}:${p.password}:${p.dn}${p.admin ? ':admin' : ''}`);
      fs.writeFileSync(users, lines.join('\n') + '\n');
      args.push(`--users=${users}`);
    }
    this.webserver = new Child('platform-webserver', args);
    const line = await this.webserver.waitFor('listening on http://');
    this.address = line.slice(line.indexOf('http://') + 7);
  }

  // The service has registered its websocket path: its start-up chain is through.
  ready(from, timeoutMs = 60000) {
    return this.webserver.waitFor(`plugin ${WEB_PATH}: register websocket path ${WEB_PATH}: ok`, from, timeoutMs);
  }

  url(p = '/') {
    return `http://${this.address}${p}`;
  }

  // The address a person opens.
  get appUrl() {
    return this.url(`${WEB_PATH}/`);
  }

  // A page in a browser context of its own (its own cookies), not logged in.
  async newPage(context) {
    const c = context || (await this.browser.newContext());
    return track(this, await c.newPage());
  }

  // A page of `name` at the bare address, logged in through the login form, or
  // through the login cookie when `context` has one.
  async openAs(name, context) {
    const person = this.people[name] || { sip: name, password: '' };
    const page = await this.newPage(context);
    const seen = loginCount(page);
    await page.goto(this.appUrl);
    const sip = page.locator('input[autocomplete="username"]');
    const loggedIn = waitForLogin(page, seen);
    const first = await Promise.race([loggedIn.then(() => 'in'), sip.waitFor({ timeout: 20000 }).then(() => 'form')]);
    if (first === 'form') {
      await sip.fill(person.sip);
      const password = page.locator('input[type="password"]');
      const last = this.openLogin ? sip : password;
      if (!this.openLogin) await password.fill(person.password);
      await last.press('Enter');
      await loggedIn;
    }
    await countsSettled(page);
    return page;
  }

  // Stops the webserver stand-in and starts it again on the same address; the
  // service's link comes back by itself. Logins it remembered are gone.
  async restartWebserver() {
    // Pages that reconnect meanwhile are refused, and the browser says so.
    this.allowErrors(/WebSocket connection to .* failed|ERR_CONNECTION_REFUSED/);
    const code = await this.webserver.stop();
    if (code !== 0) throw new Error(`platform-webserver exited with ${code}\n${this.webserver.output()}`);
    await this.startWebserver(this.address);
    await this.ready(0);
  }

  // Console errors matching `re` do not fail the current test.
  allowErrors(re) {
    this.allowed.push(re);
  }

  async stop() {
    const failures = [];
    if (this.browser) await this.browser.close();
    for (const child of [this.service, this.webserver]) {
      if (!child) continue;
      const code = await child.stop();
      if (code !== 0) failures.push(`${child.name} exited with ${code}\n${child.output()}`);
    }
    try {
      this.db.drop();
    } catch (e) {
      failures.push(e.message);
    }
    fs.rmSync(this.dir, { recursive: true, force: true });
    if (failures.length) throw new Error(failures.join('\n'));
  }
}

let current = null;

async function start(options = {}) {
  const site = new Site(options);
  (current ||= []).push(site);
  return site.start();
}

afterEach(() => {
  for (const site of current || []) {
    const errors = site.errors.splice(0);
    site.allowed = [];
    if (errors.length) throw new Error(`the page reported errors:\n${errors.join('\n')}`);
  }
});

after(async () => {
  const sites = current || [];
  current = null;
  const failures = [];
  for (const site of sites) await site.stop().catch((e) => failures.push(e.message));
  if (failures.length) throw new Error(failures.join('\n'));
});

// Accessibility violations of impact serious or critical on the page as it is now.
async function axe(page, context) {
  const source = fs.readFileSync(require.resolve('axe-core/axe.min.js'), 'utf8');
  if (!(await page.evaluate(() => !!window.axe))) await page.evaluate(source);
  const result = await page.evaluate((ctx) => window.axe.run(ctx || document), context || null);
  return result.violations.filter((v) => v.impact === 'serious' || v.impact === 'critical');
}

// docs/screenshots/NAME.png of the page as it is now.
async function screenshot(page, name) {
  const dir = path.join(ROOT, 'docs', 'screenshots');
  fs.mkdirSync(dir, { recursive: true });
  const file = path.join(dir, `${name}.png`);
  await page.screenshot({ path: file });
  return file;
}

module.exports = { start, axe, screenshot, waitForLogin, loginCount, PEOPLE, WEB_PATH };
