// Small line icons drawn on a 24-unit grid, built as SVG nodes so that
// they take the text colour and need no requests of their own.
const NS = 'http://www.w3.org/2000/svg';

const PATHS = {
  send: 'M4 12l16-8-6 16-2.5-6.5L4 12z',
  attach: 'M20 11.5l-8 8a5 5 0 01-7-7l8.5-8.5a3.3 3.3 0 014.7 4.7L9.7 17.2a1.7 1.7 0 01-2.4-2.4L15 7',
  heart: 'M12 20s-7-4.4-8.6-9A4.6 4.6 0 0112 6.5a4.6 4.6 0 018.6 4.5C19 15.6 12 20 12 20z',
  reply: 'M10 8L4 13l6 5M4 13h10a6 6 0 016 6',
  more: 'M5 12h.01M12 12h.01M19 12h.01',
  edit: 'M4 20h4L19 9l-4-4L4 16v4zM14 6l4 4',
  trash: 'M5 7h14M10 7V4h4v3M7 7l1 13h8l1-13',
  search: 'M10.5 17a6.5 6.5 0 110-13 6.5 6.5 0 010 13zM15.5 15.5L20 20',
  back: 'M15 5l-7 7 7 7',
  close: 'M6 6l12 12M18 6L6 18',
  plus: 'M12 5v14M5 12h14',
  hash: 'M9 4L7 20M17 4l-2 16M4 9h16M3 15h16',
  filter: 'M4 5h16l-6 8v6l-4-2v-4L4 5z',
  chat: 'M4 5h16v11H9l-5 4V5z',
  bell: 'M6 16V11a6 6 0 0112 0v5l2 2H4l2-2zM10 20a2 2 0 004 0',
  bellOff: 'M6 16V11a6 6 0 019-5.2M18 11v5l2 2H8M10 20a2 2 0 004 0M4 4l16 16',
  users: 'M9 11a3.5 3.5 0 100-7 3.5 3.5 0 000 7zM2.5 20a6.5 6.5 0 0113 0M16 4.5a3.5 3.5 0 010 6.5M18 14a6 6 0 013.5 6',
  settings: 'M12 15a3 3 0 100-6 3 3 0 000 6zM12 2v3M12 19v3M2 12h3M19 12h3M4.9 4.9l2.1 2.1M17 17l2.1 2.1M4.9 19.1L7 17M17 7l2.1-2.1',
  logout: 'M15 4h4v16h-4M10 8l-4 4 4 4M6 12h10',
  at: 'M16 12a4 4 0 11-8 0 4 4 0 018 0zM16 12v1.5a2.5 2.5 0 005 0V12a9 9 0 10-3.5 7.1',
  file: 'M6 3h8l4 4v14H6V3zM14 3v4h4',
  download: 'M12 4v11M7 10l5 5 5-5M5 20h14',
  up: 'M12 19V5M6 11l6-6 6 6',
  down: 'M12 5v14M6 13l6 6 6-6',
  link: 'M10 14a4 4 0 005.7 0l3-3a4 4 0 00-5.7-5.7l-1 1M14 10a4 4 0 00-5.7 0l-3 3a4 4 0 005.7 5.7l1-1',
  lock: 'M6 11h12v9H6v-9zM8.5 11V8a3.5 3.5 0 017 0v3',
  check: 'M5 12l5 5 9-10',
  menu: 'M4 7h16M4 12h16M4 17h16',
};

// icon('send') is decorative; icon('send', 'Send') speaks its label.
export function icon(name, label) {
  const svg = document.createElementNS(NS, 'svg');
  svg.setAttribute('viewBox', '0 0 24 24');
  svg.setAttribute('class', 'icon icon-' + name);
  svg.setAttribute('fill', name === 'heartFull' ? 'currentColor' : 'none');
  svg.setAttribute('stroke', 'currentColor');
  // The dots of "more" are drawn as strokes; they need a wider pen to be seen.
  svg.setAttribute('stroke-width', name === 'more' ? '3.2' : '1.8');
  svg.setAttribute('stroke-linecap', 'round');
  svg.setAttribute('stroke-linejoin', 'round');
  if (label) {
    svg.setAttribute('role', 'img');
    svg.setAttribute('aria-label', label);
  } else {
    svg.setAttribute('aria-hidden', 'true');
  }
  svg.setAttribute('focusable', 'false');
  const path = document.createElementNS(NS, 'path');
  path.setAttribute('d', PATHS[name === 'heartFull' ? 'heart' : name] || PATHS.more);
  svg.append(path);
  return svg;
}
