// Message text as people write it: a small Markdown subset (code, bold,
// italics, lists, quotes), links, @mentions and #tags. Everything is built
// as DOM nodes from the text; nothing the author wrote is ever parsed as
// markup, and only http, https and mailto links become links.
import { h } from './web/lib1/solvantique.lib1.js';

const WORD = '\\p{L}\\p{N}';
const INLINE = new RegExp([
  '`(?<code>[^`\\n]+)`',
  '\\[(?<ltext>[^\\]\\n]+)\\]\\((?<lurl>[^)\\s]+)\\)',
  '(?<url>(?:https?:\\/\\/|mailto:)[^\\s<>"]+)',
  '\\*\\*(?<bold>[^*\\n]+?)\\*\\*',
  `(?<![${WORD}_])__(?<bold2>[^_\\n]+?)__(?![${WORD}_])`,
  '\\*(?<em>[^*\\s][^*\\n]*?)\\*',
  `(?<![${WORD}_])_(?<em2>[^_\\s][^_\\n]*?)_(?![${WORD}_])`,
  `(?<![${WORD}_@])@(?<mention>[${WORD}][${WORD}._\\-]*(?:@[${WORD}][${WORD}.\\-]*)?)`,
  `(?<![${WORD}_&#])#(?<tag>[${WORD}][${WORD}_\\-]*)`,
].join('|'), 'gu');

const MENTION = new RegExp(`(?<![${WORD}_@])@([${WORD}][${WORD}._\\-]*(?:@[${WORD}][${WORD}.\\-]*)?)`, 'gu');
const TAG = new RegExp(`(?<![${WORD}_&#])#([${WORD}][${WORD}_\\-]*)`, 'gu');
const TRAIL = /[.,;:!?)\]'"_-]+$/u;

// Files of a message are named on its last lines, one per line.
export const FILE_MARK = '\u{1F4CE} ';

export function safeUrl(text) {
  try {
    const url = new URL(text, location.href);
    return ['http:', 'https:', 'mailto:'].includes(url.protocol) && /^(https?:\/\/|mailto:)/i.test(text) ? url.href : null;
  } catch {
    return null;
  }
}

// Text without code, where mentions and tags count.
function prose(text) {
  return text.replace(/```[\s\S]*?(```|$)/g, ' ').replace(/`[^`\n]*`/g, ' ');
}

function unique(list) {
  const seen = new Set();
  return list.filter((x) => {
    const k = x.toLowerCase();
    return !seen.has(k) && seen.add(k);
  });
}

export function mentionsOf(text) {
  return unique([...prose(text).matchAll(MENTION)].map((m) => m[1].replace(TRAIL, '')).filter(Boolean));
}

export function tagsOf(text) {
  return unique([...prose(text).matchAll(TAG)].map((m) => m[1].replace(TRAIL, '')).filter(Boolean));
}

// {body, files}: the text without its trailing file lines.
export function splitFiles(text) {
  const lines = String(text || '').split('\n');
  const files = [];
  while (lines.length && lines[lines.length - 1].startsWith(FILE_MARK)) files.unshift(lines.pop().slice(FILE_MARK.length));
  return { body: lines.join('\n').replace(/\s+$/, ''), files };
}

export function withFiles(text, names) {
  return [text.replace(/\s+$/, ''), ...names.map((n) => FILE_MARK + n.replace(/\n/g, ' '))].filter(Boolean).join('\n');
}

// ctx: {me, people: Map sip->dn, marks: RegExp of search words, tagHref(tag)}
function textNode(text, ctx, out) {
  if (!ctx.marks || !text) {
    out.push(text);
    return;
  }
  let last = 0;
  for (const m of text.matchAll(ctx.marks)) {
    if (m.index > last) out.push(text.slice(last, m.index));
    out.push(h('mark', { text: m[0] }));
    last = m.index + m[0].length;
  }
  if (last < text.length) out.push(text.slice(last));
}

export function inline(text, ctx = {}) {
  const out = [];
  let last = 0;
  for (const m of text.matchAll(INLINE)) {
    const g = m.groups;
    let whole = m[0];
    let rest = '';
    let node;
    if (g.code != null) node = h('code', { text: g.code });
    else if (g.lurl != null) {
      const href = safeUrl(g.lurl);
      node = href ? h('a', { href, target: '_blank', rel: 'noopener noreferrer nofollow' }, inline(g.ltext, ctx)) : null;
    } else if (g.url != null) {
      const url = g.url.replace(TRAIL, '');
      rest = g.url.slice(url.length);
      const href = safeUrl(url);
      node = href ? h('a', { href, target: '_blank', rel: 'noopener noreferrer nofollow', text: url }) : null;
    } else if (g.bold != null || g.bold2 != null) node = h('strong', null, inline(g.bold ?? g.bold2, ctx));
    else if (g.em != null || g.em2 != null) node = h('em', null, inline(g.em ?? g.em2, ctx));
    else if (g.mention != null) {
      const sip = g.mention.replace(TRAIL, '');
      rest = g.mention.slice(sip.length);
      const dn = ctx.people?.get(sip);
      node = h('span', { class: 'mention' + (ctx.me && sip.toLowerCase() === ctx.me.toLowerCase() ? ' me' : ''), title: dn || null, text: '@' + sip });
    } else if (g.tag != null) {
      const tag = g.tag.replace(TRAIL, '');
      rest = g.tag.slice(tag.length);
      node = h('a', { class: 'tag', href: ctx.tagHref ? ctx.tagHref(tag) : null, text: '#' + tag });
    }
    if (!node) continue;
    if (m.index > last) textNode(text.slice(last, m.index), ctx, out);
    out.push(node);
    if (rest) textNode(rest, ctx, out);
    last = m.index + whole.length;
  }
  if (last < text.length) textNode(text.slice(last), ctx, out);
  return out;
}

const LIST = /^\s{0,3}(?:([-*+\u2022])|(\d{1,3})[.)])\s+(.*)$/;

// Block structure: code fences, quotes, lists and paragraphs.
export function blocks(text, ctx = {}) {
  const lines = String(text || '').replace(/\r\n?/g, '\n').split('\n');
  const out = [];
  for (let i = 0; i < lines.length;) {
    const line = lines[i];
    if (/^\s*```/.test(line)) {
      const code = [];
      for (i++; i < lines.length && !/^\s*```\s*$/.test(lines[i]); i++) code.push(lines[i]);
      i++;
      out.push(h('pre', null, h('code', { text: code.join('\n') })));
    } else if (/^\s*>/.test(line)) {
      const quoted = [];
      for (; i < lines.length && /^\s*>/.test(lines[i]); i++) quoted.push(lines[i].replace(/^\s*> ?/, ''));
      out.push(h('blockquote', null, blocks(quoted.join('\n'), ctx)));
    } else if (LIST.test(line)) {
      const ordered = !!LIST.exec(line)[2];
      const items = [];
      for (let m; i < lines.length && (m = LIST.exec(lines[i])) && !!m[2] === ordered; i++) items.push(h('li', null, inline(m[3], ctx)));
      out.push(h(ordered ? 'ol' : 'ul', { start: ordered ? LIST.exec(line)[2] : null }, items));
    } else if (!line.trim()) {
      i++;
    } else {
      const para = [];
      for (; i < lines.length && lines[i].trim() && !/^\s*(```|>)/.test(lines[i]) && !LIST.test(lines[i]); i++) {
        if (para.length) para.push(h('br'));
        para.push(...inline(lines[i], ctx));
      }
      out.push(h('p', null, para));
    }
  }
  return out;
}

// Search words as typed, marked where a word of the text begins with them.
export function marksFor(query) {
  const words = String(query || '').match(/[\p{L}\p{N}]+/gu) || [];
  if (!words.length) return null;
  const escaped = words.sort((a, b) => b.length - a.length).map((w) => w.replace(/[.*+?^${}()|[\]\\]/g, '\\$&'));
  return new RegExp(`(?<![${WORD}])(?:${escaped.join('|')})`, 'giu');
}

// One line of plain text for previews and notifications.
export function plainLine(text, max = 140) {
  const line = splitFiles(text).body.replace(/```/g, '').replace(/[*_`>#]/g, (c) => (c === '#' ? c : '')).replace(/\s+/g, ' ').trim();
  return line.length > max ? line.slice(0, max - 1) + '\u2026' : line;
}
