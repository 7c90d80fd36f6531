// A windowed list: only the items near the visible part are in the page,
// the rest is two spacers whose heights come from measured (or estimated)
// item heights. Long lists scroll smoothly and keep their place when items
// are added above, or stay at the bottom when asked to (conversations).
import { h } from '../lib1/solvantique.lib1.js';

export class WindowedList {
  // render(key) -> Element; bottom: newest at the bottom, stay there.
  constructor({ render, estimate = 80, overscan = 900, bottom = false, label, onNearEnd, onNearStart, className = '' }) {
    this.render = render;
    this.estimate = estimate;
    this.overscan = overscan;
    this.bottom = bottom;
    this.onNearEnd = onNearEnd;
    this.onNearStart = onNearStart;
    this.keys = [];
    this.laid = [];
    this.lastTop = 0;
    this.alive = new Set();
    this.heights = new Map();
    this.nodes = new Map();
    this.offsets = [0];
    this.current = null;
    this.frame = 0;
    this.stick = bottom;
    this.anchor = null;
    this.top = h('div', { class: 'spacer', 'aria-hidden': 'true' });
    this.end = h('div', { class: 'spacer', 'aria-hidden': 'true' });
    this.items = h('div', { class: 'items' }, this.top, this.end);
    this.header = h('div', { class: 'list-header' });
    this.footer = h('div', { class: 'list-footer' });
    this.el = h('div', { class: 'windowed ' + className, role: 'feed', 'aria-label': label || null, 'aria-busy': 'false' },
      this.header, this.items, this.footer);
    this.el.addEventListener('scroll', () => this.#onScroll(), { passive: true });
    this.el.addEventListener('keydown', (e) => this.#onKey(e));
    this.el.addEventListener('focusin', (e) => {
      const item = e.target.closest?.('[data-key]');
      if (item && this.items.contains(item)) this.#setCurrent(item.dataset.key);
    });
    new ResizeObserver(() => this.schedule()).observe(this.el);
    this.resize = new ResizeObserver(() => this.schedule());
  }

  setKeys(keys) {
    this.#rememberAnchor();
    this.keys = keys.map(String);
    const alive = (this.alive = new Set(this.keys));
    for (const key of this.heights.keys()) if (!alive.has(key)) this.heights.delete(key);
    this.schedule();
  }

  // Renders an item again after its data changed.
  refresh(key) {
    key = String(key);
    const old = this.nodes.get(key);
    // An item that left the list goes at the next layout; it is not drawn again.
    if (!old || !this.alive.has(key)) return;
    const node = this.#make(key);
    const focused = old.contains(document.activeElement);
    old.replaceWith(node);
    this.resize.unobserve(old);
    this.nodes.set(key, node);
    if (focused) node.focus({ preventScroll: true });
    this.schedule();
  }

  refreshAll() {
    for (const key of [...this.nodes.keys()]) this.refresh(key);
  }

  setBusy(busy) {
    this.el.setAttribute('aria-busy', busy ? 'true' : 'false');
  }

  atBottom() {
    return this.el.scrollHeight - this.el.scrollTop - this.el.clientHeight < 24;
  }

  scrollToBottom() {
    this.stick = true;
    this.el.scrollTop = this.el.scrollHeight;
    this.schedule();
  }

  scrollToKey(key, block = 'nearest') {
    const i = this.keys.indexOf(String(key));
    if (i < 0) return;
    const base = this.items.offsetTop;
    const top = base + this.offsets[i];
    const height = this.offsets[i + 1] - this.offsets[i];
    const view = this.el.clientHeight;
    if (block === 'start' || (block === 'nearest' && top < this.el.scrollTop)) this.el.scrollTop = top;
    else if (block === 'center') this.el.scrollTop = top - (view - height) / 2;
    else if (top + height > this.el.scrollTop + view) this.el.scrollTop = top + height - view;
    this.stick = this.bottom && this.atBottom();
    this.anchor = null;
    this.layout();
  }

  focusKey(key) {
    this.scrollToKey(key);
    const node = this.nodes.get(String(key));
    if (node) node.focus({ preventScroll: true });
  }

  schedule() {
    if (!this.frame) this.frame = requestAnimationFrame(() => {
      this.frame = 0;
      this.layout();
    });
  }

  #make(key) {
    const node = this.render(key);
    node.dataset.key = key;
    node.setAttribute('role', 'article');
    node.tabIndex = key === this.current ? 0 : -1;
    const i = this.keys.indexOf(key);
    node.setAttribute('aria-posinset', i + 1);
    node.setAttribute('aria-setsize', this.keys.length);
    this.resize.observe(node);
    return node;
  }

  #computeOffsets() {
    this.laid = this.keys;
    const offsets = new Array(this.keys.length + 1);
    offsets[0] = 0;
    // Items not measured yet count as the mean of those measured: the
    // declared estimate only serves until the first layout.
    let measured = 0;
    for (const height of this.heights.values()) measured += height;
    const guess = this.heights.size ? measured / this.heights.size : this.estimate;
    for (let i = 0; i < this.keys.length; i++) offsets[i + 1] = offsets[i] + (this.heights.get(this.keys[i]) ?? guess);
    this.offsets = offsets;
  }

  #indexAt(y) {
    let lo = 0;
    let hi = this.offsets.length - 1;
    while (lo < hi) {
      const mid = (lo + hi) >> 1;
      if (this.offsets[mid + 1] <= y) lo = mid + 1;
      else hi = mid;
    }
    return lo;
  }

  // The first item at the top of the view and how far it is scrolled past,
  // so that changes above it do not move what the person is reading. It is
  // found in the last layout, which is what is on screen.
  #rememberAnchor() {
    this.lastTop = this.el.scrollTop;
    if (this.bottom && this.atBottom()) {
      this.stick = true;
      this.anchor = null;
      return;
    }
    this.stick = false;
    const y = this.el.scrollTop - this.items.offsetTop;
    // At the top of a newest-first list new items show; a conversation
    // reading back keeps its place while older items come in above.
    if (!this.laid.length || (y <= 0 && !this.bottom)) {
      this.anchor = null;
      return;
    }
    const i = Math.min(this.#indexAt(Math.max(y, 0)), this.laid.length - 1);
    this.anchor = { key: this.laid[i], delta: this.offsets[i] - y };
  }

  #restore() {
    if (this.stick) {
      this.el.scrollTop = this.el.scrollHeight;
      return;
    }
    if (!this.anchor) return;
    const i = this.keys.indexOf(this.anchor.key);
    if (i < 0) return;
    const want = this.items.offsetTop + this.offsets[i] - this.anchor.delta;
    if (Math.abs(this.el.scrollTop - want) > 0.5) this.el.scrollTop = want;
  }

  layout() {
    // A hidden list measures nothing; it lays out again when it is shown.
    if (!this.el.isConnected || !this.el.clientHeight) return;
    // Scrolled since the anchor was taken (in the same frame, before the
    // scroll event): the place to keep is the new one.
    if (this.el.scrollTop !== this.lastTop) this.#rememberAnchor();
    for (let pass = 0; pass < 4; pass++) {
      this.#computeOffsets();
      const total = this.offsets[this.keys.length];
      this.items.style.height = total + 'px';
      this.#restore();
      const base = this.items.offsetTop;
      const from = Math.max(0, this.el.scrollTop - base - this.overscan);
      const to = this.el.scrollTop - base + this.el.clientHeight + this.overscan;
      const start = Math.min(this.#indexAt(from), this.keys.length);
      const stop = Math.min(this.#indexAt(to) + 1, this.keys.length);
      this.#renderRange(start, stop);
      this.top.style.height = this.offsets[start] + 'px';
      this.end.style.height = total - this.offsets[stop] + 'px';
      if (!this.#measure(start, stop)) break;
    }
    this.items.style.height = '';
    this.#restore();
    this.#rememberAnchor();
    this.#near();
  }

  #renderRange(start, stop) {
    const wanted = new Set(this.keys.slice(start, stop));
    for (const [key, node] of this.nodes) {
      if (wanted.has(key)) continue;
      this.resize.unobserve(node);
      node.remove();
      this.nodes.delete(key);
    }
    let cursor = this.top;
    for (let i = start; i < stop; i++) {
      const key = this.keys[i];
      let node = this.nodes.get(key);
      if (!node) {
        node = this.#make(key);
        this.nodes.set(key, node);
      } else {
        node.setAttribute('aria-posinset', i + 1);
        node.setAttribute('aria-setsize', this.keys.length);
      }
      if (cursor.nextSibling !== node) cursor.after(node);
      cursor = node;
    }
    // Tab reaches the list through one item: the current one, or the first shown.
    if (start < stop && !this.nodes.has(this.current)) {
      this.current = this.keys[start];
      this.nodes.get(this.current).tabIndex = 0;
    }
  }

  // True when a height changed, so that the layout is done again.
  #measure(start, stop) {
    let changed = false;
    for (let i = start; i < stop; i++) {
      const key = this.keys[i];
      const node = this.nodes.get(key);
      const height = node.getBoundingClientRect().height;
      if (Math.abs((this.heights.get(key) ?? -1) - height) > 0.5) {
        this.heights.set(key, height);
        changed = true;
      }
    }
    return changed;
  }

  #near() {
    const view = this.el.clientHeight;
    const top = this.el.scrollTop;
    if (this.onNearEnd && top + view > this.el.scrollHeight - view * 1.5) this.onNearEnd();
    if (this.onNearStart && top < view * 1.5) this.onNearStart();
  }

  #onScroll() {
    this.#rememberAnchor();
    this.schedule();
  }

  #setCurrent(key) {
    if (this.current === key) return;
    this.nodes.get(this.current)?.setAttribute('tabindex', '-1');
    this.current = key;
    this.nodes.get(key)?.setAttribute('tabindex', '0');
  }

  // Arrow keys, Home and End move between items (the feed pattern).
  #onKey(e) {
    const item = e.target.closest?.('[data-key]');
    if (!item || item !== e.target) return;
    const i = this.keys.indexOf(item.dataset.key);
    const to = { ArrowDown: i + 1, ArrowUp: i - 1, Home: 0, End: this.keys.length - 1 }[e.key];
    if (to == null || to < 0 || to >= this.keys.length) return;
    e.preventDefault();
    this.#setCurrent(this.keys[to]);
    this.focusKey(this.keys[to]);
  }
}
