// Round avatars with a person's initials; the colour follows the SIP name
// so that one person looks the same everywhere.
import { h } from '../lib1/solvantique.lib1.js';
import { avatarColors } from '../../solvantique.messagesColors.js';

export function initials(name) {
  const words = String(name || '?').replace(/[@?].*$/, '').split(/[\s._-]+/).filter(Boolean);
  const letters = words.length > 1 ? [words[0], words[words.length - 1]] : [words[0] || '?'];
  return letters.map((w) => [...w][0].toUpperCase()).join('').slice(0, 2) || '?';
}

export function colorOf(key) {
  // FNV-1a spreads short names better than a plain multiply-and-add.
  let hash = 0x811c9dc5;
  for (const c of String(key || '')) hash = Math.imul(hash ^ c.codePointAt(0), 0x01000193) >>> 0;
  return avatarColors[hash % avatarColors.length];
}

// The avatar is decorative: the name is always written beside it.
export function avatar(sip, dn, size = 36) {
  return h('span', {
    class: 'avatar',
    'aria-hidden': 'true',
    text: initials(dn || sip),
    style: { background: colorOf(sip), width: size + 'px', height: size + 'px', fontSize: Math.round(size * 0.4) + 'px' },
  });
}
