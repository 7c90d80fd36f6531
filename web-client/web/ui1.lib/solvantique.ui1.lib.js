// Small widgets every view uses: icon buttons, count badges, an announcer
// for screen readers and a busy indicator.
import { h } from '../lib1/solvantique.lib1.js';
import { icon } from '../ui1.svg/solvantique.ui1.svg.js';

// A button showing only an icon; its label is spoken and shown on hover.
export function iconButton(name, label, onclick, props = {}) {
  return h('button', { type: 'button', class: 'icon-button', 'aria-label': label, title: label, onclick, ...props }, icon(name));
}

export function button(text, onclick, props = {}) {
  return h('button', { type: 'button', class: 'button', onclick, ...props }, props.icon ? icon(props.icon) : null, text);
}

// A count badge; empty and hidden at 0. label(n) is what is spoken.
export function badge(n, label) {
  const node = h('span', { class: 'badge' });
  setBadge(node, n, label);
  return node;
}

export function setBadge(node, n, label) {
  node.textContent = n > 999 ? '999+' : n ? String(n) : '';
  node.hidden = !n;
  if (label && n) node.setAttribute('aria-label', label(n));
  else node.removeAttribute('aria-label');
}

export function hidden(text) {
  return h('span', { class: 'visually-hidden', text });
}

export function spinner(label) {
  return h('div', { class: 'spinner', role: 'status' }, h('span', { class: 'dots', 'aria-hidden': 'true' }, h('i'), h('i'), h('i')), label ? hidden(label) : null);
}

let live;
// Tells screen-reader users about something that happened elsewhere.
export function announce(text) {
  if (!live || !live.isConnected) {
    live = h('div', { class: 'visually-hidden', 'aria-live': 'polite', role: 'log' });
    document.body.append(live);
  }
  live.textContent = '';
  setTimeout(() => (live.textContent = text), 50);
}

// Keeps "n min ago" style labels fresh without each view running a timer.
const clocks = new Set();
export function everyMinute(fn) {
  clocks.add(fn);
  return () => clocks.delete(fn);
}
setInterval(() => clocks.forEach((fn) => fn()), 60000);
