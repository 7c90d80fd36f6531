'use strict';
// Message text as the client shows it, checked in the page on the DOM the
// client builds: the Markdown subset, links that may be links, mentions and
// tags (and what a post names of them), search marks, and file lines.
const { test, before } = require('node:test');
const assert = require('node:assert/strict');
const { start } = require('./harness');

let page;
before(async () => {
  const site = await start();
  page = await site.openAs('carol');
  await page.evaluate(async () => {
    window.text = await import('./solvantique.messages.text.js');
    window.render = (source, marks) => {
      const box = document.createElement('div');
      const ctx = { me: 'carol', people: new Map([['bob', 'Bob Baker']]), tagHref: (tag) => '#/tag/' + tag, marks: marks && window.text.marksFor(marks) };
      box.append(...window.text.blocks(source, ctx));
      return box.innerHTML;
    };
  });
});

const render = (source, marks) => page.evaluate(([s, m]) => window.render(s, m), [source, marks]);
const call = (name, ...args) => page.evaluate(([n, a]) => window.text[n](...a), [name, args]);

test('bold, italics and code inside a paragraph, and lines kept apart', async () => {
  assert.equal(await render('a **b** *c* `d` _e_ __f__'), '<p>a <strong>b</strong> <em>c</em> <code>d</code> <em>e</em> <strong>f</strong></p>');
  assert.equal(await render('one\ntwo\n\nthree'), '<p>one<br>two</p><p>three</p>');
  assert.equal(await render('snake_case_name and a * b * c'), '<p>snake_case_name and a * b * c</p>');
  assert.equal(await render('**`x`** inside'), '<p><strong><code>x</code></strong> inside</p>');
});

test('code blocks, lists and quotes are blocks of their own', async () => {
  assert.equal(await render('```\n**x** @bob\n  <b>\n```\nafter'), '<pre><code>**x** @bob\n  &lt;b&gt;</code></pre><p>after</p>');
  assert.equal(await render('- a\n* b\n\n1. x\n2) y'), '<ul><li>a</li><li>b</li></ul><ol start="1"><li>x</li><li>y</li></ol>');
  assert.equal(await render('> q **s**\n> more\nplain'), '<blockquote><p>q <strong>s</strong><br>more</p></blockquote><p>plain</p>');
  assert.equal(await render('```\nnever closed'), '<pre><code>never closed</code></pre>');
});

test('only http, https and mailto become links, without what ends the sentence', async () => {
  const links = await page.evaluate(() => {
    const box = document.createElement('div');
    box.innerHTML = window.render('see https://x.org/a_b?q=1. (https://y.org) [ok](https://z.org/p) [bad](javascript:alert(1)) mailto:a@b.org data:text/html,x JavaScript:alert(2) [x](//evil.org)');
    return [...box.querySelectorAll('a')].map((a) => [a.getAttribute('href'), a.textContent, a.rel]);
  });
  assert.deepEqual(links, [
    ['https://x.org/a_b?q=1', 'https://x.org/a_b?q=1', 'noopener noreferrer nofollow'],
    ['https://y.org/', 'https://y.org', 'noopener noreferrer nofollow'],
    ['https://z.org/p', 'ok', 'noopener noreferrer nofollow'],
    ['mailto:a@b.org', 'mailto:a@b.org', 'noopener noreferrer nofollow'],
  ]);
  assert.match(await render('[bad](javascript:alert(1))'), /\[bad\]\(javascript:alert\(1\)\)/);
});

test('mentions and tags stand out, and a post names them once, outside code', async () => {
  assert.equal(await render('@bob, @carol. @new_one a@b #tag-1 x#y #1x'),
    '<p><span class="mention" title="Bob Baker">@bob</span>, <span class="mention me">@carol</span>. ' +
    '<span class="mention">@new_one</span> a@b <a class="tag" href="#/tag/tag-1">#tag-1</a> x#y <a class="tag" href="#/tag/1x">#1x</a></p>');
  assert.deepEqual(await call('mentionsOf', 'hi @Bob and @bob, `@code` @ann@example.org.\n```\n@block\n```'), ['Bob', 'ann@example.org']);
  assert.deepEqual(await call('tagsOf', '#a #A #b. `#c` #d_e'), ['a', 'b', 'd_e']);
});

test('search words are marked where a word begins with them', async () => {
  assert.equal(await render('Launch plan for Friday; relaunch **Lau**nch', 'lau fri'),
    '<p><mark>Lau</mark>nch plan for <mark>Fri</mark>day; relaunch <strong><mark>Lau</mark></strong>nch</p>');
  assert.equal(await render('a.b (c)', '.*+ ('), '<p>a.b (c)</p>');
});

test('files named on the last lines come apart from the text and back', async () => {
  const text = await call('withFiles', 'See these  \n', ['a b.pdf', 'two\nlines.txt']);
  assert.deepEqual(await call('splitFiles', text), { body: 'See these', files: ['a b.pdf', 'two lines.txt'] });
  assert.deepEqual(await call('splitFiles', 'no files'), { body: 'no files', files: [] });
  assert.equal(await call('plainLine', '**Bold** `x`\n> quoted\n\u{1F4CE} f.txt', 20), 'Bold x quoted');
});
