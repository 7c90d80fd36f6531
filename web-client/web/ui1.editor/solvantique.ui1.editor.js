// The composer: a growing text area where Enter sends and Shift+Enter
// starts a new line, with completion of @names and #tags, attached files
// (picked, dropped or pasted) and a draft that survives a reload.
import { h, debounce, store } from '../lib1/solvantique.lib1.js';
import { icon } from '../ui1.svg/solvantique.ui1.svg.js';
import { iconButton } from '../ui1.lib/solvantique.ui1.lib.js';
import { pickFiles, dropTarget } from '../ui1.file/solvantique.ui1.file.js';

let ids = 0;

export class Editor {
  // people() -> [{sip, dn}]; tags(prefix) -> Promise<[name]>;
  // onSend({text, files}) returns false to keep the text.
  constructor({ label, placeholder, texts, people = () => [], tags = async () => [], onSend, onEscape, draftKey, files = false, initial = '', sendIcon = 'send', hint }) {
    this.texts = texts;
    this.people = people;
    this.tags = tags;
    this.onSend = onSend;
    this.onEscape = onEscape;
    this.draftKey = draftKey ? 'draft:' + draftKey : null;
    this.files = [];
    this.options = [];
    this.active = -1;
    this.seq = 0;
    const listId = 'completion' + ++ids;
    const hintNode = hint ? h('span', { id: listId + '-hint', class: 'visually-hidden', text: hint }) : null;
    this.list = h('ul', { id: listId, role: 'listbox', class: 'completion', hidden: true, 'aria-label': texts.suggestions });
    this.input = h('textarea', {
      rows: 1, placeholder, 'aria-label': label, 'aria-autocomplete': 'list', 'aria-controls': listId, 'aria-describedby': hint ? listId + '-hint' : null,
      enterkeyhint: 'send', spellcheck: true,
    });
    this.input.value = initial || (this.draftKey ? store.get(this.draftKey, '') : '');
    this.chips = h('div', { class: 'composer-files' });
    this.sendButton = iconButton(sendIcon, texts.send, () => this.send(), { class: 'icon-button send' });
    const attach = files ? iconButton('attach', texts.attach, async () => this.addFiles(await pickFiles())) : null;
    this.el = h('div', { class: 'composer' }, this.list, this.chips, h('div', { class: 'composer-row' }, attach, this.input, this.sendButton), hintNode);
    this.saveDraft = debounce(() => this.draftKey && store.set(this.draftKey, this.input.value || null), 400);
    this.input.addEventListener('input', () => {
      this.#grow();
      this.saveDraft();
      this.#complete();
      this.#updateButton();
    });
    this.input.addEventListener('keydown', (e) => this.#key(e));
    this.input.addEventListener('blur', () => setTimeout(() => this.#close(), 150));
    this.input.addEventListener('click', () => this.#complete());
    if (files) {
      dropTarget(this.el, (list) => this.addFiles(list));
      this.input.addEventListener('paste', (e) => {
        const pasted = [...(e.clipboardData?.files || [])];
        if (pasted.length) {
          e.preventDefault();
          this.addFiles(pasted);
        }
      });
    }
    requestAnimationFrame(() => this.#grow());
    this.#updateButton();
  }

  focus() {
    this.input.focus();
    const end = this.input.value.length;
    this.input.setSelectionRange(end, end);
  }

  get text() {
    return this.input.value;
  }

  set text(value) {
    this.input.value = value;
    this.#grow();
    this.#updateButton();
  }

  addFiles(list) {
    for (const file of list) {
      this.files.push(file);
      const chip = h('span', { class: 'chip' }, icon('file'), h('span', { text: file.name }),
        iconButton('close', this.texts.removeFile.replace('{name}', file.name), () => {
          this.files = this.files.filter((f) => f !== file);
          chip.remove();
          this.#updateButton();
        }));
      this.chips.append(chip);
    }
    this.#updateButton();
    this.input.focus();
  }

  send() {
    const text = this.input.value.trim();
    if (!text && !this.files.length) return;
    if (this.onSend({ text, files: this.files }) === false) return;
    this.input.value = '';
    this.files = [];
    this.chips.replaceChildren();
    this.saveDraft.cancel();
    if (this.draftKey) store.set(this.draftKey, null);
    this.#grow();
    this.#close();
    this.#updateButton();
  }

  #updateButton() {
    this.sendButton.disabled = !this.input.value.trim() && !this.files.length;
  }

  #grow() {
    this.input.style.height = 'auto';
    this.input.style.height = Math.min(this.input.scrollHeight + 2, Math.max(120, innerHeight * 0.4)) + 'px';
  }

  #key(e) {
    const open = !this.list.hidden;
    if (open && (e.key === 'ArrowDown' || e.key === 'ArrowUp')) {
      e.preventDefault();
      this.#activate(this.active + (e.key === 'ArrowDown' ? 1 : -1));
    } else if (open && (e.key === 'Enter' || e.key === 'Tab') && this.active >= 0) {
      e.preventDefault();
      this.#pick(this.options[this.active]);
    } else if (e.key === 'Escape') {
      if (open) {
        e.preventDefault();
        e.stopPropagation();
        this.#close();
      } else if (this.onEscape) {
        e.preventDefault();
        this.onEscape();
      }
    } else if (e.key === 'Enter' && !e.shiftKey && !e.isComposing && !e.altKey) {
      e.preventDefault();
      this.send();
    }
  }

  // The word being typed when it starts with @ or #.
  #context() {
    const at = this.input.selectionStart;
    if (at !== this.input.selectionEnd) return null;
    const m = /(^|[\s(])([@#])([\p{L}\p{N}._-]*)$/u.exec(this.input.value.slice(0, at));
    return m ? { kind: m[2], query: m[3], start: at - m[3].length - 1, end: at } : null;
  }

  async #complete() {
    const ctx = this.#context();
    const seq = ++this.seq;
    if (!ctx) return this.#close();
    const q = ctx.query.toLowerCase();
    let options;
    if (ctx.kind === '@') {
      const words = (p) => [p.sip, ...(p.dn || '').split(/\s+/), p.dn || ''].map((w) => w.toLowerCase());
      options = this.people().filter((p) => words(p).some((w) => w.startsWith(q))).slice(0, 8)
        .map((p) => ({ value: p.sip, label: p.dn || p.sip, detail: p.dn ? p.sip : '' }));
    } else {
      let names = [];
      try {
        names = await this.tags(ctx.query);
      } catch {
        /* no completion when offline */
      }
      if (seq !== this.seq) return;
      options = names.slice(0, 8).map((n) => ({ value: n, label: '#' + n, detail: '' }));
    }
    this.ctx = ctx;
    this.#show(options);
  }

  #show(options) {
    this.options = options;
    this.list.replaceChildren(...options.map((o, i) => h('li', {
      id: this.list.id + '-' + i, role: 'option', 'aria-selected': 'false', class: 'option',
      onpointerdown: (e) => {
        e.preventDefault();
        this.#pick(o);
      },
    }, h('span', { text: o.label }), o.detail ? h('small', { text: o.detail }) : null)));
    this.list.hidden = !options.length;
    this.#activate(options.length ? 0 : -1);
  }

  #activate(i) {
    const n = this.options.length;
    if (!n) return;
    this.active = (i + n) % n;
    [...this.list.children].forEach((li, j) => li.setAttribute('aria-selected', String(j === this.active)));
    this.input.setAttribute('aria-activedescendant', this.list.id + '-' + this.active);
  }

  #pick(option) {
    // The word as it is now: more may have been typed since the list came.
    const now = this.#context();
    if (!now || now.kind !== this.ctx?.kind) return this.#close();
    const { kind, start, end } = now;
    const value = this.input.value;
    const insert = kind + option.value + ' ';
    this.input.value = value.slice(0, start) + insert + value.slice(end);
    const at = start + insert.length;
    this.input.setSelectionRange(at, at);
    this.#close();
    this.saveDraft();
    this.#updateButton();
    this.input.focus();
  }

  #close() {
    this.seq++;
    this.list.hidden = true;
    this.options = [];
    this.active = -1;
    this.input.removeAttribute('aria-activedescendant');
  }
}
