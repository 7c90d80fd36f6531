// DOM building and small helpers shared by every page. Nodes are built from
// plain values: text always goes in as text, never as markup.

// h('div', {class: 'x', onclick: f, 'aria-label': 'y'}, child, 'text', [more])
export function h(tag, props, ...children) {
  const node = document.createElement(tag);
  if (props) setProps(node, props);
  append(node, children);
  return node;
}

export function setProps(node, props) {
  for (const [key, value] of Object.entries(props)) {
    if (value == null || value === false) continue;
    if (key === 'innerHTML' || key === 'outerHTML') throw new Error('markup is never set from values');
    if (key === 'class') node.className = value;
    else if (key === 'text') node.textContent = value;
    else if (key === 'style' && typeof value === 'object') Object.assign(node.style, value);
    else if (key === 'dataset') Object.assign(node.dataset, value);
    else if (key.startsWith('on') && typeof value === 'function') node.addEventListener(key.slice(2), value);
    else if (key.includes('-') || key === 'role' || key === 'for' || !(key in node)) node.setAttribute(key, value === true ? '' : value);
    else {
      try {
        node[key] = value;
      } catch {
        // Read-only properties (e.g. an input's list) exist only as attributes.
        node.setAttribute(key, value);
      }
    }
  }
  return node;
}

export function append(node, children) {
  for (const child of children) {
    if (child == null || child === false) continue;
    if (Array.isArray(child)) append(node, child);
    else node.append(child instanceof Node ? child : String(child));
  }
  return node;
}

export function clear(node) {
  while (node.firstChild) node.firstChild.remove();
  return node;
}

// Replaces the children of a node.
export function fill(node, ...children) {
  clear(node);
  return append(node, children);
}

export function debounce(fn, ms) {
  let timer = 0;
  const call = (...args) => {
    clearTimeout(timer);
    timer = setTimeout(() => fn(...args), ms);
  };
  call.cancel = () => clearTimeout(timer);
  return call;
}

// A minimal event source for models and connections.
export class Emitter {
  #handlers = new Map();
  on(name, fn) {
    if (!this.#handlers.has(name)) this.#handlers.set(name, new Set());
    this.#handlers.get(name).add(fn);
    return () => this.off(name, fn);
  }
  off(name, fn) {
    this.#handlers.get(name)?.delete(fn);
  }
  emit(name, ...args) {
    for (const fn of [...(this.#handlers.get(name) || [])]) {
      try {
        fn(...args);
      } catch (e) {
        // One broken listener must not keep the others from hearing the event.
        setTimeout(() => { throw e; });
      }
    }
  }
}

// A UUID v4 text; crypto.randomUUID is missing outside secure contexts.
export function uuid() {
  const b = crypto.getRandomValues(new Uint8Array(16));
  b[6] = (b[6] & 0x0f) | 0x40;
  b[8] = (b[8] & 0x3f) | 0x80;
  const x = [...b].map((v) => v.toString(16).padStart(2, '0')).join('');
  return `${x.slice(0, 8)}-${x.slice(8, 12)}-${x.slice(12, 16)}-${x.slice(16, 20)}-${x.slice(20)}`;
}

// The service hands guids back as bare lower-case hex.
export function guidKey(guid) {
  return String(guid || '').toLowerCase().replace(/[^0-9a-f]/g, '');
}

// localStorage that never throws (private windows, full quota).
export const store = {
  get(key, fallback = null) {
    try {
      const v = localStorage.getItem(key);
      return v == null ? fallback : JSON.parse(v);
    } catch {
      return fallback;
    }
  },
  set(key, value) {
    try {
      if (value == null) localStorage.removeItem(key);
      else localStorage.setItem(key, JSON.stringify(value));
    } catch {
      /* storage is a comfort, not a need */
    }
  },
};

export function param(name) {
  return new URLSearchParams(location.search).get(name);
}

// The first date format of a page loads the locale's data, tens of ms: the
// formats are made on first use, or by warmDates while the page waits anyway.
let formats = null;
export function warmDates() {
  formats ||= {
    clock: new Intl.DateTimeFormat(undefined, { hour: '2-digit', minute: '2-digit' }),
    day: new Intl.DateTimeFormat(undefined, { month: 'short', day: 'numeric' }),
    full: new Intl.DateTimeFormat(undefined, { dateStyle: 'medium', timeStyle: 'short' }),
  };
  return formats;
}

// Short time for lists: the clock today, the date before.
export function shortTime(ms) {
  if (!ms) return '';
  const d = new Date(ms);
  const f = warmDates();
  return d.toDateString() === new Date().toDateString() ? f.clock.format(d) : f.day.format(d);
}

export function longTime(ms) {
  return ms ? warmDates().full.format(new Date(ms)) : '';
}

export function formatSize(bytes) {
  const units = ['B', 'KB', 'MB', 'GB'];
  let i = 0;
  for (; bytes >= 1024 && i < units.length - 1; i++) bytes /= 1024;
  return `${i ? bytes.toFixed(bytes < 10 ? 1 : 0) : bytes} ${units[i]}`;
}

// A LIKE pattern that takes the text literally, for prefix look-ups.
export function likePrefix(text) {
  return text.replace(/[\\%_]/g, (c) => '\\' + c) + '%';
}
