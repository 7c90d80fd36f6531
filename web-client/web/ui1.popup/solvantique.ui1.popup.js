// Menus, popovers, dialogs and toasts. Every one closes with Escape and
// gives the focus back to where it came from.
import { h } from '../lib1/solvantique.lib1.js';
import { icon } from '../ui1.svg/solvantique.ui1.svg.js';

// Labels of the popups' own buttons; the app puts its texts in.
export const popupTexts = { close: 'Close', cancel: 'Cancel' };

const open = [];

addEventListener('keydown', (e) => {
  if (e.key !== 'Escape' || !open.length) return;
  e.preventDefault();
  e.stopPropagation();
  open[open.length - 1].close();
}, true);

addEventListener('pointerdown', (e) => {
  const top = open[open.length - 1];
  if (top && top.light && !top.node.contains(e.target) && !top.anchor?.contains(e.target)) top.close();
}, true);

function layer(node, { light = false, anchor = null, onClose } = {}) {
  const back = document.activeElement;
  const entry = {
    node,
    light,
    anchor,
    close() {
      const i = open.indexOf(entry);
      if (i < 0) return;
      open.splice(i, 1);
      node.remove();
      onClose?.();
      if (back && back.isConnected) back.focus({ preventScroll: true });
    },
  };
  open.push(entry);
  document.body.append(node);
  return entry;
}

// Places a floating node below (or above) its anchor, inside the window.
function place(node, anchor) {
  const r = anchor.getBoundingClientRect();
  const w = node.offsetWidth;
  const hgt = node.offsetHeight;
  let left = Math.min(r.left, innerWidth - w - 8);
  let top = r.bottom + 4;
  if (top + hgt > innerHeight - 8 && r.top - hgt - 4 > 8) top = r.top - hgt - 4;
  node.style.left = Math.max(8, left) + 'px';
  node.style.top = Math.max(8, Math.min(top, innerHeight - hgt - 8)) + 'px';
}

// items: [{label, icon, action, danger}] ; arrow keys move, Enter picks.
export function menu(anchor, items, label) {
  const buttons = items.filter(Boolean).map((item) =>
    h('button', {
      type: 'button',
      role: 'menuitem',
      class: 'menu-item' + (item.danger ? ' danger' : ''),
      onclick: () => {
        entry.close();
        item.action();
      },
    }, item.icon ? icon(item.icon) : null, item.label));
  const node = h('div', { class: 'popup menu', role: 'menu', 'aria-label': label || null }, buttons);
  node.addEventListener('keydown', (e) => {
    const i = buttons.indexOf(document.activeElement);
    const step = { ArrowDown: 1, ArrowUp: -1 }[e.key];
    if (step) {
      e.preventDefault();
      buttons[(i + step + buttons.length) % buttons.length].focus();
    } else if (e.key === 'Tab') {
      entry.close();
    }
  });
  anchor.setAttribute('aria-expanded', 'true');
  const entry = layer(node, { light: true, anchor, onClose: () => anchor.setAttribute('aria-expanded', 'false') });
  place(node, anchor);
  buttons[0]?.focus();
  return entry;
}

// A non-modal floating panel next to an anchor.
export function popover(anchor, content, label) {
  const node = h('div', { class: 'popup popover', role: 'dialog', 'aria-label': label || null, tabindex: '-1' }, content);
  const entry = layer(node, { light: true, anchor });
  place(node, anchor);
  node.focus();
  return entry;
}

// A modal dialog; Tab stays inside it.
export function dialog({ title, body, actions = [], wide = false, onClose }) {
  const titleId = 'dlg' + Math.random().toString(36).slice(2);
  const footer = h('div', { class: 'dialog-actions' }, actions.map((a) =>
    h('button', {
      type: a.submit ? 'submit' : 'button',
      class: 'button' + (a.primary ? ' primary' : '') + (a.danger ? ' danger' : ''),
      onclick: a.submit ? null : () => a.action ? a.action(entry) : entry.close(),
    }, a.label)));
  const form = h('form', { class: 'dialog' + (wide ? ' wide' : ''), role: 'dialog', 'aria-modal': 'true', 'aria-labelledby': titleId },
    h('div', { class: 'dialog-head' },
      h('h2', { id: titleId, text: title }),
      h('button', { type: 'button', class: 'icon-button', 'aria-label': popupTexts.close, onclick: () => entry.close() }, icon('close'))),
    h('div', { class: 'dialog-body' }, body),
    footer);
  form.addEventListener('submit', (e) => {
    e.preventDefault();
    const submit = actions.find((a) => a.submit);
    if (submit) submit.action(entry);
  });
  const scrim = h('div', { class: 'scrim' }, form);
  scrim.addEventListener('keydown', (e) => {
    if (e.key !== 'Tab') return;
    const focusables = [...form.querySelectorAll('button, input, select, textarea, a[href], [tabindex="0"]')].filter((n) => !n.disabled);
    if (!focusables.length) return;
    const first = focusables[0];
    const last = focusables[focusables.length - 1];
    if (e.shiftKey && document.activeElement === first) {
      e.preventDefault();
      last.focus();
    } else if (!e.shiftKey && document.activeElement === last) {
      e.preventDefault();
      first.focus();
    }
  });
  const entry = layer(scrim, { onClose });
  entry.form = form;
  (form.querySelector('[autofocus]') || form.querySelector('.dialog-body input, .dialog-body select, .dialog-body textarea') || form.querySelector('.dialog-actions .primary') || form).focus();
  return entry;
}

export function confirmDialog({ title, text, ok, cancel = popupTexts.cancel, danger = false }) {
  return new Promise((resolve) => {
    let answer = false;
    dialog({
      title,
      body: h('p', { text }),
      onClose: () => resolve(answer),
      actions: [
        { label: cancel },
        { label: ok, primary: !danger, danger, submit: true, action: (d) => { answer = true; d.close(); } },
      ],
    });
  });
}

// fields: [{name, label, value, type, required, options:[{value,label}]}]
export function formDialog({ title, fields, ok, cancel = popupTexts.cancel }) {
  return new Promise((resolve) => {
    let answer = null;
    const inputs = {};
    const rows = fields.map((f) => {
      const id = 'f' + Math.random().toString(36).slice(2);
      let input;
      if (f.type === 'select') {
        input = h('select', { id, name: f.name }, f.options.map((o) => h('option', { value: o.value, selected: o.value === f.value, text: o.label })));
      } else if (f.type === 'checkbox') {
        input = h('input', { id, type: 'checkbox', name: f.name, checked: !!f.value });
      } else {
        input = h('input', { id, type: f.type || 'text', name: f.name, value: f.value || '', required: !!f.required, autocomplete: 'off', placeholder: f.placeholder || null });
      }
      inputs[f.name] = input;
      return h('div', { class: 'field' + (f.type === 'checkbox' ? ' check' : '') }, h('label', { for: id, text: f.label }), input, f.hint ? h('small', { text: f.hint }) : null);
    });
    dialog({
      title,
      body: rows,
      onClose: () => resolve(answer),
      actions: [
        { label: cancel },
        {
          label: ok, primary: true, submit: true,
          action: (d) => {
            answer = {};
            for (const [name, input] of Object.entries(inputs)) answer[name] = input.type === 'checkbox' ? input.checked : input.value.trim();
            d.close();
          },
        },
      ],
    });
  });
}

let toastBox;
// A short note at the bottom; screen readers hear it too.
export function toast(text, ms = 4000) {
  if (!toastBox || !toastBox.isConnected) {
    toastBox = h('div', { class: 'toasts', role: 'status', 'aria-live': 'polite' });
    document.body.append(toastBox);
  }
  const t = h('div', { class: 'toast', text });
  toastBox.append(t);
  setTimeout(() => t.remove(), ms);
}
