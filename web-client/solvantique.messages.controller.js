// Puts the views together: which pane shows what for the address after
// "#", the connection's state, the tab's unread count and keyboard keys.
import { h, fill, warmDates } from './web/lib1/solvantique.lib1.js';
import { iconButton, announce } from './web/ui1.lib/solvantique.ui1.lib.js';
import { ListView } from './solvantique.messages.list.js';
import { TopicView } from './solvantique.messages.topic.js';
import { DiscussionView } from './solvantique.messages.discussion.js';
import { ResultsView } from './solvantique.messages.results.js';
import { ChatView } from './solvantique.messages.chat.js';
import { editFilter, filterMenu, newChat } from './solvantique.messages.dialogs.js';
import { Notifier, TabBadge } from './solvantique.messages.notify.js';
import { T, fmt } from './solvantique.messagesTexts.js';

const enc = encodeURIComponent;

export function parseRoute(hash) {
  const [path, query] = hash.replace(/^#\/?/, '').split('?');
  let parts;
  try {
    parts = path.split('/').map(decodeURIComponent);
  } catch {
    return { view: 'home' };
  }
  const q = new URLSearchParams(query || '');
  const id = (s) => Number(s) || 0;
  switch (parts[0]) {
    case 't': return parts[2] === 'd' ? { view: 'discussion', topic: parts[1], id: id(parts[3]), time: id(q.get('t')) } : { view: 'topic', topic: parts[1] };
    case 'd': return { view: 'discussion', id: id(parts[1]), topic: q.get('topic') || undefined, time: id(q.get('t')) };
    case 'f': return { view: 'filter', id: id(parts[1]) };
    case 'mentions': return { view: 'mentions' };
    case 'tag': return { view: 'tag', tag: parts[1] };
    case 'search': return { view: 'search', q: parts[1], topic: q.get('topic') || undefined };
    case 'chat': return { view: 'chat', sip: parts[1] };
    case 'manage': return { view: 'manage' };
    default: return { view: 'home' };
  }
}

export function href(r) {
  switch (r.view) {
    case 'topic': return `#/t/${enc(r.topic)}`;
    // The discussion's time finds its first message quickly when nothing else is known.
    case 'discussion': return (r.topic ? `#/t/${enc(r.topic)}/d/${r.id}` : `#/d/${r.id}`) + (r.time ? `?t=${r.time}` : '');
    case 'filter': return `#/f/${r.id}`;
    case 'mentions': return '#/mentions';
    case 'tag': return `#/tag/${enc(r.tag)}`;
    case 'search': return `#/search/${enc(r.q)}` + (r.topic ? `?topic=${enc(r.topic)}` : '');
    case 'chat': return `#/chat/${enc(r.sip)}`;
    case 'manage': return '#/manage';
    default: return '#/';
  }
}

// mode: 'full', 'topic' (one topic), 'discussion' (one discussion);
// fixed: the route of a single-topic or single-discussion page.
export class Controller {
  constructor(root, model, { mode = 'full', readOnly = false, fixed = null, logout, manager } = {}) {
    this.model = model;
    this.mode = mode;
    this.readOnly = readOnly;
    this.fixed = fixed;
    this.manager = manager;
    this.logout = logout;
    this.route = { view: 'home' };
    this.editing = null;
    this.middle = null;
    this.right = null;
    this.notifications = new Notifier(this);
    this.tab = new TabBadge(T.appName);
    this.banner = h('div', { class: 'conn-banner', role: 'status', hidden: true });
    this.middleBox = h('main', { class: 'pane middle', id: 'main', tabindex: '-1' });
    this.rightBox = h('section', { class: 'pane right' });
    this.list = mode === 'full' ? new ListView(this) : null;
    this.el = h('div', { class: 'app mode-' + mode, dataset: { focus: 'middle' } },
      h('a', { class: 'skip', href: '#main', text: T.skip, onclick: (e) => (e.preventDefault(), this.middleBox.focus()) }),
      this.banner,
      this.list?.el, this.middleBox, this.rightBox);
    fill(root, this.el);
    const conn = model.conn;
    conn.on('state', (s) => this.#state(s));
    conn.on('retry', ({ delay }) => this.#countdown(delay));
    model.on('unread', () => this.#unread());
    model.on('chats', () => this.#unread());
    model.on('ready', () => this.#ready());
    // A saved filter opened before the filters were read shows once they are.
    model.on('filters', () => this.route.view === 'filter' && this.middleKey === 'missing' && this.#apply());
    addEventListener('hashchange', () => this.#apply());
    addEventListener('keydown', (e) => this.#key(e));
    this.#state(conn.state);
    // The page may build the views after the login was answered.
    if (model.ready) this.#ready();
  }

  // Pages of one topic or discussion send everything else to the app page.
  href(route) {
    const here = this.mode === 'full' || route.view === 'discussion' || (route.view === 'topic' && this.mode === 'topic');
    return (here ? '' : 'solvantique-messages.htm') + href(route);
  }

  go(route, { reload = false } = {}) {
    const target = href(route);
    if (reload) this.middleKey = null;
    if (location.hash === target) this.#apply();
    else location.hash = target;
  }

  edit(msg) {
    const old = this.editing;
    this.editing = msg;
    if (old) this.model.emit('message', old);
    if (msg) this.model.emit('message', msg);
  }

  editFilter(saved) {
    editFilter(this, saved);
  }

  filterMenu(f, anchor) {
    filterMenu(this, f, anchor);
  }

  newChat() {
    newChat(this);
  }

  searchIn(topic) {
    this.list?.scope(topic);
    this.list?.searchInput.focus();
  }

  // A button seen only where panes replace each other (narrow windows).
  backButton(to) {
    if (this.mode !== 'full' && to === 'nav') return null;
    if (this.mode === 'discussion') return null;
    return iconButton('back', T.back, () => (to === 'nav' ? this.go({ view: 'home' }) : this.closeDiscussion()), { class: 'icon-button back to-' + to });
  }

  closeDiscussion() {
    if (this.mode === 'discussion') return;
    this.go(this.middleRoute || { view: 'home' });
  }

  #ready() {
    this.#apply();
    // The answer carries no "src": it comes as a message of its own.
    const off = this.model.conn.on('push', (m) => {
      if (m.mt !== 'CheckBuildResult') return;
      off();
      if (m.url) this.#newBuild(m.url);
    });
    this.model.conn.send({ mt: 'CheckBuild', url: location.pathname });
    // The first rows are a round trip away: the date formats they need are made meanwhile.
    setTimeout(warmDates);
  }

  #newBuild(url) {
    this.banner.hidden = false;
    this.banner.dataset.kind = 'build';
    fill(this.banner, T.newBuild, ' ', h('button', { type: 'button', class: 'link', text: T.reload, onclick: () => location.assign(url + location.search + location.hash) }));
  }

  #state(state) {
    this.list?.setState(state);
    this.el.dataset.conn = state;
    if (this.banner.dataset.kind === 'build') return;
    this.banner.hidden = state === 'online' || state === 'idle';
    if (!this.banner.hidden) fill(this.banner, { connecting: T.stateConnecting, login: T.stateLogin, reconnecting: T.stateReconnecting, stopped: T.stateStopped }[state] || '');
    if (state === 'online' && this.wasOffline) announce(T.stateOnline);
    this.wasOffline = state !== 'online';
  }

  #countdown(delay) {
    clearInterval(this.ticker);
    const until = Date.now() + delay;
    const tick = () => {
      const left = until - Date.now();
      if (left <= 0 || this.model.conn.state === 'online') return clearInterval(this.ticker);
      this.list?.setState(this.model.conn.state, left);
      if (this.banner.dataset.kind !== 'build') {
        fill(this.banner, fmt(T.retryIn, { s: Math.ceil(left / 1000) }), ' ',
          h('button', { type: 'button', class: 'link', text: T.retryNow, onclick: () => this.model.conn.start() || dispatchEvent(new Event('online')) }));
      }
    };
    tick();
    this.ticker = setInterval(tick, 1000);
  }

  #unread() {
    const m = this.model;
    let n = m.unread.mentions;
    for (const c of m.chats.values()) n += c.unread || 0;
    this.tab.set(n);
  }

  // The route decides the panes; views are kept while they stay the same.
  #apply() {
    if (!this.model.ready) return;
    let route = parseRoute(location.hash);
    if (this.fixed && !(route.view === 'discussion' && this.mode === 'topic')) route = this.fixed;
    if (route.view === 'home' || (route.view === 'topic' && !route.topic)) {
      // Narrow windows show the side bar first; others the first topic.
      const first = this.model.topicList()[0];
      const wide = this.mode !== 'full' || matchMedia('(min-width: 760px)').matches;
      route = first && wide ? { view: 'topic', topic: first.sip } : { view: 'home' };
    }
    this.route = route;
    this.list?.select(route);
    const middle = this.#middleFor(route);
    if (middle) this.#setMiddle(middle.key, middle.make, route);
    this.list?.showSearch(this.middleRoute?.view === 'search' ? this.middleRoute : null);
    if (route.view === 'discussion') {
      const key = route.id + ':' + (route.topic || '');
      if (this.rightKey !== key) {
        this.right?.dispose();
        this.rightKey = key;
        this.right = new DiscussionView(this, route.id, route.topic, route.time);
        fill(this.rightBox, this.right.el);
      }
      this.middle?.select?.(route.id);
      // A phone's keyboard would cover what was just opened.
      if (matchMedia('(pointer: fine)').matches) requestAnimationFrame(() => this.right?.focus());
    } else if (this.right) {
      this.right.dispose();
      this.right = null;
      this.rightKey = null;
      fill(this.rightBox);
      this.middle?.select?.(null);
    }
    this.el.dataset.focus = route.view === 'home' ? 'nav' : route.view === 'discussion' ? 'right' : 'middle';
    this.el.classList.toggle('has-discussion', route.view === 'discussion');
  }

  #middleFor(route) {
    const m = this.model;
    switch (route.view) {
      case 'topic': return { key: 'topic:' + route.topic, make: () => new TopicView(this, route.topic) };
      case 'discussion':
        // A discussion opened from a list keeps that list beside it.
        if (this.middle && this.middleKey && (!route.topic || this.middleKey !== 'topic:' + route.topic) && !this.middleKey.startsWith('topic:')) return null;
        if (!route.topic) return this.middle ? null : { key: 'empty', make: () => ({ el: h('div', { class: 'view empty-view' }), dispose() {} }) };
        return { key: 'topic:' + route.topic, make: () => new TopicView(this, route.topic) };
      case 'filter': {
        const saved = m.filters.find((f) => f.id === route.id);
        if (!saved) return { key: 'missing', make: () => ({ el: h('div', { class: 'view empty-view' }, h('p', { class: 'empty', text: T.loading })), dispose() {} }) };
        return { key: 'filter:' + saved.id + ':' + JSON.stringify(saved.filter), make: () => new ResultsView(this, { kind: 'filter', filter: saved.filter, saved, title: saved.name }) };
      }
      case 'mentions': return { key: 'mentions', make: () => new ResultsView(this, { kind: 'mentions', filter: { notifies: [m.me] }, title: T.mentionsTitle }) };
      case 'tag': return { key: 'tag:' + route.tag, make: () => new ResultsView(this, { kind: 'tag', filter: { tags: [route.tag] }, title: fmt(T.tagTitle, { tag: route.tag }) }) };
      case 'search': return { key: 'search:' + route.q + ':' + (route.topic || ''), make: () => new ResultsView(this, { kind: 'search', q: route.q, topic: route.topic, title: fmt(T.searchResults, { q: route.q }) }) };
      case 'chat': return { key: 'chat:' + route.sip, make: () => new ChatView(this, route.sip) };
      case 'manage': return this.manager ? { key: 'manage', make: () => this.manager(this) } : null;
      default: return this.middle ? null : { key: 'empty', make: () => ({ el: h('div', { class: 'view empty-view' }), dispose() {} }) };
    }
  }

  #setMiddle(key, make, route) {
    if (route.view !== 'discussion') this.middleRoute = route;
    else if (key.startsWith('topic:') && this.middleKey !== key) this.middleRoute = { view: 'topic', topic: route.topic };
    if (this.middleKey === key) return;
    this.middle?.dispose();
    this.middleKey = key;
    this.middle = make();
    fill(this.middleBox, this.middle.el);
    if (route.view === 'chat' && matchMedia('(pointer: fine)').matches) requestAnimationFrame(() => this.middle?.focus?.());
  }

  #key(e) {
    const typing = e.target.closest?.('input, textarea, select, [contenteditable]');
    if ((e.key === 'k' && (e.ctrlKey || e.metaKey)) || (e.key === '/' && !typing)) {
      if (!this.list) return;
      e.preventDefault();
      this.list.searchInput.focus();
      this.list.searchInput.select();
    } else if (e.key === 'Escape' && !typing && !e.defaultPrevented && this.route.view === 'discussion') {
      this.closeDiscussion();
    }
  }
}
