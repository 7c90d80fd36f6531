'use strict';
// The web client in headless chromium against a running site with a history
// (scripts/bench-web-client.sh sets it up and passes it in the environment).
// Each figure is printed next to its floor, measured in the same run in the
// same browser without the client: raw websockets from a bare page, or a
// static page of the same rows.
//
//   BENCH_URL      http://HOST:PORT/messages/ (the bare address)
//   BENCH_READER, BENCH_WRITER   sip:password of two people of the users file
//   BENCH_NEWEST   text of the newest discussion of the home view
//   BENCH_SCROLL   topic with the scroll history; BENCH_SCROLL_COUNT its messages,
//                  whose texts begin with BENCH_SCROLL_PREFIX and end with their number
//   BENCH_FILES    the web client's file names, blank-separated; BENCH_SOURCE_BYTES their size as written
//   BENCH_ROUNDS   rounds of the opening and the live post (default 5 and 4 times that)
const fs = require('node:fs');
const http = require('node:http');
const path = require('node:path');
const { chromium } = require(path.join(__dirname, '..', 'tests', 'browser', 'node_modules', 'playwright-core'));

const env = (name, fallback) => process.env[name] || fallback;
const appUrl = env('BENCH_URL');
const origin = new URL(appUrl).origin;
const webPath = new URL(appUrl).pathname.replace(/\/$/, '');
const [readerSip, readerPassword] = env('BENCH_READER').split(':');
const [writerSip, writerPassword] = env('BENCH_WRITER').split(':');
const rounds = Number(env('BENCH_ROUNDS', '5'));
const scrollTopic = env('BENCH_SCROLL');
const scrollCount = Number(env('BENCH_SCROLL_COUNT'));
const scrollPrefix = env('BENCH_SCROLL_PREFIX');

// Waits for what a page recorded itself. Polling on animation frames (the
// default) would make the browser draw a frame every 16 ms all along, work a
// page left alone does not do and that slows the opening it measures.
const POLL = { timeout: 60000, polling: 50 };

const median = (xs) => [...xs].sort((a, b) => a - b)[Math.floor((xs.length - 1) / 2)];
const ms = (x) => `${Math.round(x)} ms`;
const mb = (x) => `${(x / 1048576).toFixed(1)} MB`;
const kb = (x) => `${(x / 1024).toFixed(1)} KB`;

// In a page: the time (performance.now) at which the first frame after the
// text `want` entered the document was painted; window.benchShown. Text put
// in by an animation frame callback (as a windowed list draws) is painted in
// that same frame, other text in the next one; a task queued from a frame's
// callbacks runs once the frame is painted.
function watchFor(want) {
  const raf = window.requestAnimationFrame.bind(window);
  let inFrame = false;
  window.requestAnimationFrame = (fn) => raf((t) => {
    inFrame = true;
    try {
      fn(t);
    } finally {
      // The observer hears of the callback's changes in a microtask queued before this one.
      queueMicrotask(() => (inFrame = false));
    }
  });
  const seen = () => document.body && document.body.textContent.includes(want);
  const observer = new MutationObserver(() => {
    if (!seen()) return;
    observer.disconnect();
    const shown = () => setTimeout(() => (window.benchShown = performance.now()));
    if (inFrame) shown();
    else raf(shown);
  });
  observer.observe(document, { childList: true, subtree: true, characterData: true });
}

// In a page of the site: the app websocket logged in through the webserver's
// login (with `fields`, or the cookie when empty); resolves to a small client.
async function rawLogin(fields) {
  const ws = new WebSocket(`ws://${location.host}${window.benchWebPath}`);
  const waiting = [];
  ws.onmessage = (e) => {
    const msg = JSON.parse(e.data);
    for (const w of waiting.slice()) if (w.test(msg)) waiting.splice(waiting.indexOf(w), 1), w.resolve(msg);
    if (ws.onrow) ws.onrow(msg);
  };
  const next = (test) => new Promise((resolve) => waiting.push({ test, resolve }));
  await new Promise((resolve) => (ws.onopen = resolve));
  ws.send(JSON.stringify({ mt: 'AppChallenge' }));
  const { challenge } = await next((m) => m.mt === 'AppChallengeResult');
  const body = new URLSearchParams({ path: window.benchWebPath, challenge, ...fields });
  const login = await (await fetch('/platform/login', { method: 'POST', body })).json();
  ws.send(JSON.stringify({ mt: 'AppLogin', ...login }));
  await next((m) => m.mt === 'AppLoginResult');
  ws.next = next;
  return ws;
}

// A bare page of the site: the not-found page, which loads nothing else.
const barePage = () => `${origin}${webPath}/0/bench-floor`;

async function logInThroughForm(context) {
  const page = await context.newPage();
  await page.goto(appUrl);
  await page.locator('input[autocomplete="username"]').fill(readerSip);
  await page.locator('input[type="password"]').fill(readerPassword);
  await page.locator('input[type="password"]').press('Enter');
  await page.waitForFunction((want) => document.body.textContent.includes(want), env('BENCH_NEWEST'), { timeout: 60000 });
  await page.close();
}

// Navigation start to the first frame with the newest discussion, in a new
// context (cold cache, the login cookie kept) and then again in the same one.
async function opening(browser, context) {
  const storageState = await context.storageState();
  const cold = [];
  const warm = [];
  const floor = [];
  // The time shown, and how many of the files loaded by then went to the server.
  const time = async (c, url, init, arg) => {
    const page = await c.newPage();
    await page.addInitScript(init, arg);
    await page.goto(url);
    const shown = await (await page.waitForFunction(() => window.benchShown, null, POLL)).jsonValue();
    const asked = await page.evaluate(() => performance.getEntriesByType('resource').filter((r) => r.initiatorType !== 'fetch' && r.transferSize > 0).length);
    await page.close();
    return { shown, asked };
  };
  // The floor: a bare page that logs in on the cookie and receives the first 50 discussions of
  // the topic the client opens on.
  const rawOpening = ([p, login]) => {
    window.benchWebPath = p;
    (0, eval)(`(${login})`)({}).then(async (ws) => {
      ws.send(JSON.stringify({ mt: 'SetFilter', src: 'f', count: 50, discussion: true, read: true, filter: { topics: ['messages'] } }));
      await ws.next((m) => m.mt === 'SetFilterResult');
      window.benchShown = performance.now();
    });
  };
  let warmAsked = 0;
  for (let i = 0; i < rounds; i++) {
    const c = await browser.newContext({ storageState, viewport: { width: 1280, height: 800 } });
    cold.push((await time(c, appUrl, watchFor, env('BENCH_NEWEST'))).shown);
    const again = await time(c, appUrl, watchFor, env('BENCH_NEWEST'));
    warm.push(again.shown);
    warmAsked = Math.max(warmAsked, again.asked);
    floor.push((await time(c, barePage(), rawOpening, [webPath, rawLogin.toString()])).shown);
    await c.close();
  }
  return { cold: median(cold), warm: median(warm), floor: median(floor), warmAsked };
}

async function livePost(browser, context) {
  const reader = await context.newPage();
  await reader.goto(appUrl);
  await reader.waitForFunction((want) => document.body.textContent.includes(want), env('BENCH_NEWEST'), { timeout: 60000 });
  const writerContext = await browser.newContext();
  const writer = await writerContext.newPage();
  await writer.goto(barePage());
  await writer.evaluate(
    async ([p, login, sip, password]) => {
      window.benchWebPath = p;
      const rawLogin = (0, eval)(`(${login})`);
      window.poster = await rawLogin({ sip, password });
      // The floor: another session whose filter the post matches, without a page to draw.
      window.listener = await rawLogin({ sip, password });
      window.listener.send(JSON.stringify({ mt: 'SetFilter', src: 'live', count: 0, discussion: true, filter: {} }));
      await window.listener.next((m) => m.mt === 'SetFilterResult');
    },
    [webPath, rawLogin.toString(), writerSip, writerPassword],
  );
  const client = [];
  const floor = [];
  for (let i = 0; i < rounds * 4; i++) {
    const text = `Live post ${i} ${Math.random().toString(36).slice(2)}`;
    await reader.evaluate((want) => {
      window.benchShown = 0;
      const observer = new MutationObserver(() => {
        if (!document.body.textContent.includes(want)) return;
        observer.disconnect();
        requestAnimationFrame(() => setTimeout(() => (window.benchShown = performance.timeOrigin + performance.now())));
      });
      observer.observe(document.body, { childList: true, subtree: true, characterData: true });
    }, text);
    const sent = await writer.evaluate(async (text) => {
      const heard = window.listener.next((m) => m.mt === 'Add' && m.msg && m.msg.text === text);
      const at = performance.timeOrigin + performance.now();
      window.poster.send(JSON.stringify({ mt: 'Post', src: 'p', topic: 'messages', text }));
      await heard;
      return { at, heard: performance.timeOrigin + performance.now() };
    }, text);
    const shown = await (await reader.waitForFunction(() => window.benchShown, null, { ...POLL, timeout: 30000 })).jsonValue();
    client.push(shown - sent.at);
    floor.push(sent.heard - sent.at);
  }
  await writerContext.close();
  await reader.close();
  return { median: median(client), max: Math.max(...client), floor: median(floor) };
}

// The largest proportional set size (bytes) of the renderer processes of
// this run's browser: the page's own renderer, whatever else it spawned.
function rendererMemory() {
  const parent = (pid) => Number(fs.readFileSync(`/proc/${pid}/stat`, 'utf8').replace(/^.*\) /, '').split(' ')[1]);
  const ours = (pid) => {
    for (let p = pid; p > 1; p = parent(p)) if (p === process.pid) return true;
    return false;
  };
  let most = 0;
  for (const pid of fs.readdirSync('/proc').filter((d) => /^\d+$/.test(d)).map(Number)) {
    try {
      if (!fs.readFileSync(`/proc/${pid}/cmdline`, 'utf8').includes('--type=renderer') || !ours(pid)) continue;
      const pss = /^Pss:\s+(\d+) kB/m.exec(fs.readFileSync(`/proc/${pid}/smaps_rollup`, 'utf8'));
      if (pss) most = Math.max(most, Number(pss[1]) * 1024);
    } catch {
      // gone meanwhile
    }
  }
  return most;
}

// Scrolls the innermost scrollable element under the middle of the main area
// with smooth mouse-wheel gestures of the browser's own (input every frame, as
// a person's fast scrolling gives) until `last` is in the document or the time
// is up; counts the frames drawn in the browser's trace during the gestures
// and reads the page's heap after a GC.
async function scrollThrough(browser, page, last) {
  const cdp = await page.context().newCDPSession(page);
  const at = await page.evaluate(() => {
    const w = innerWidth;
    let el = document.elementFromPoint(w > 700 ? w * 0.65 : w / 2, innerHeight * 0.6);
    while (el && !(el.scrollHeight > el.clientHeight + 10 && /auto|scroll/.test(getComputedStyle(el).overflowY))) el = el.parentElement;
    const r = (el || document.documentElement).getBoundingClientRect();
    return { x: Math.round(r.left + r.width / 2), y: Math.round(r.top + Math.min(r.height, innerHeight) / 2) };
  });
  await browser.startTracing(page, { categories: ['devtools.timeline', 'disabled-by-default-devtools.timeline.frame'] });
  let gestures = 0;
  let reached = false;
  const start = Date.now();
  while (!reached && Date.now() - start < 180000) {
    const t = Date.now();
    await cdp.send('Input.synthesizeScrollGesture', { ...at, yDistance: -5000, speed: 10000, gestureSourceType: 'mouse' });
    gestures += Date.now() - t;
    reached = await page.evaluate((last) => document.body.textContent.includes(last), last);
  }
  const trace = JSON.parse((await browser.stopTracing()).toString());
  const frames = (trace.traceEvents || trace).filter((e) => e.name === 'DrawFrame').length;
  await cdp.send('HeapProfiler.collectGarbage');
  await cdp.send('Performance.enable');
  const { metrics } = await cdp.send('Performance.getMetrics');
  const metric = (name) => metrics.find((m) => m.name === name).value;
  return { fps: (frames * 1000) / gestures, seconds: (Date.now() - start) / 1000, reached, heap: metric('JSHeapUsedSize'), nodes: metric('Nodes'), renderer: rendererMemory() };
}

async function scrolling(browser, context) {
  const last = `${scrollPrefix}1:`;
  const page = await context.newPage();
  await page.setViewportSize({ width: 1280, height: 800 });
  await page.goto(`${appUrl}#/t/${encodeURIComponent(scrollTopic)}`);
  await page.waitForFunction((want) => document.body.textContent.includes(want), `${scrollPrefix}${scrollCount}:`, { timeout: 60000 });
  const client = await scrollThrough(browser, page, last);
  await page.close();
  // The floor: the same texts as plain rows of a static page.
  const floorPage = await context.newPage();
  await floorPage.setViewportSize({ width: 1280, height: 800 });
  await floorPage.goto(barePage());
  await floorPage.evaluate(([prefix, count]) => {
    const list = document.createElement('div');
    list.style.cssText = 'position:fixed;inset:0;overflow:auto;background:#fff';
    for (let i = count; i >= 1; i--) {
      const row = document.createElement('div');
      row.style.cssText = 'padding:12px 16px;border-bottom:1px solid #ddd';
      row.textContent = `${prefix}${i}: a message of the scroll history, long enough to wrap like a real one does`;
      list.append(row);
    }
    document.body.append(list);
  }, [scrollPrefix, scrollCount]);
  const floor = await scrollThrough(browser, floorPage, last);
  await floorPage.close();
  return { client, floor };
}

// Bytes on the wire for each file of the client, asked for as a browser does (gzip accepted).
function servedSize(url) {
  return new Promise((resolve, reject) => {
    http.get(url, { headers: { 'Accept-Encoding': 'gzip' } }, (res) => {
      let n = 0;
      res.on('data', (c) => (n += c.length));
      res.on('end', () => resolve(res.statusCode === 200 ? n : 0));
    }).on('error', reject);
  });
}

// What a cold opening of the app transfers (bodies as sent), and the whole
// table asked for file by file.
async function clientSize(browser, context) {
  const c = await browser.newContext({ storageState: await context.storageState() });
  const page = await c.newPage();
  const responses = [];
  page.on('response', (r) => r.url().startsWith(origin) && responses.push(r));
  await page.goto(appUrl);
  await page.waitForFunction((want) => document.body.textContent.includes(want), env('BENCH_NEWEST'), { timeout: 60000 });
  await page.waitForLoadState('networkidle');
  let opened = 0;
  for (const r of responses) opened += (await r.request().sizes()).responseBodySize;
  const build = new URL(page.url()).pathname.split('/').slice(-2)[0];
  await c.close();
  let total = 0;
  let missing = 0;
  for (const name of env('BENCH_FILES').split(/\s+/).filter(Boolean)) {
    const n = await servedSize(`${origin}${webPath}/${build}/${name}`);
    total += n;
    missing += n === 0;
  }
  return { opened, files: responses.length, served: total, source: Number(env('BENCH_SOURCE_BYTES')), missing };
}

(async () => {
  const browser = await chromium.launch({
    executablePath: env('CHROMIUM', '/usr/bin/chromium'),
    args: process.getuid() === 0 ? ['--no-sandbox'] : [],
  });
  const context = await browser.newContext({ viewport: { width: 1280, height: 800 } });
  await logInThroughForm(context);

  const open = await opening(browser, context);
  console.log(`opening the address to the first page of 50 discussions shown (median of ${rounds}): cold cache ${ms(open.cold)}, warm ${ms(open.warm)} (goal < 300 ms; a warm opening asked the server for at most ${open.warmAsked} of the page's files); floor (bare page, websocket login on the cookie, 50 discussions received): ${ms(open.floor)}`);
  // Before the live posts push the newest discussion of the history down.
  const size = await clientSize(browser, context);
  const live = await livePost(browser, context);
  console.log(`another user's post to its appearance on screen: median ${ms(live.median)}, max ${ms(live.max)} (goal < 100 ms); floor (the post's "Add" at a bare websocket): ${ms(live.floor)}`);
  const scroll = await scrolling(browser, context);
  const s = scroll.client;
  console.log(`scrolling through ${scrollCount} messages at 10000 px/s: ${s.fps.toFixed(1)} frames/s, ${s.seconds.toFixed(1)} s to the oldest${s.reached ? '' : ' (not reached)'} (goal > 50); page memory: JS heap ${mb(s.heap)}, ${s.nodes} DOM nodes, renderer process ${mb(s.renderer)} (goal < 100 MB); floor (static page of the same rows): ${scroll.floor.fps.toFixed(1)} frames/s, heap ${mb(scroll.floor.heap)}, ${scroll.floor.nodes} nodes, renderer ${mb(scroll.floor.renderer)}`);
  console.log(`the web client as served compressed: a cold opening transfers ${kb(size.opened)} in ${size.files} responses (goal < 200 KB); the whole file table ${kb(size.served)}${size.missing ? ` (${size.missing} files not served)` : ''}; as written: ${kb(size.source)}`);
  await browser.close();
})().catch((e) => {
  console.error(e);
  process.exit(1);
});
