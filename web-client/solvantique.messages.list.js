// The side bar: who is logged in and how the connection is, the search
// box, topics with their unread counts, saved filters and chats.
import { h, fill } from './web/lib1/solvantique.lib1.js';
import { icon } from './web/ui1.svg/solvantique.ui1.svg.js';
import { iconButton, badge, hidden } from './web/ui1.lib/solvantique.ui1.lib.js';
import { menu } from './web/ui1.popup/solvantique.ui1.popup.js';
import { avatar } from './web/com.solvantique.avatar/com.solvantique.avatar.js';
import { T, fmt } from './solvantique.messagesTexts.js';

const unreadLabel = (n) => fmt(T.unreadCount, { n });

export class ListView {
  constructor(app) {
    this.app = app;
    const model = app.model;
    this.state = h('span', { class: 'conn-state', role: 'status', 'aria-live': 'polite' });
    this.searchInput = h('input', { type: 'search', name: 'q', placeholder: T.searchPlaceholder, 'aria-label': T.search, autocomplete: 'off' });
    const search = h('form', { class: 'search', role: 'search', onsubmit: (e) => {
      e.preventDefault();
      const q = this.searchInput.value.trim();
      const topic = this.searchInput.dataset.topic;
      if (q) app.go({ view: 'search', q, topic });
    } }, icon('search'), this.searchInput);
    // "Search in a topic" lasts until the box is left empty.
    this.searchInput.addEventListener('blur', () => {
      if (!this.searchInput.value) this.scope(null);
    });
    this.topics = h('ul', { class: 'nav-list' });
    this.filters = h('ul', { class: 'nav-list' });
    this.chats = h('ul', { class: 'nav-list' });
    const me = h('button', { type: 'button', class: 'me-button', 'aria-haspopup': 'menu', onclick: (e) => this.#menu(e.currentTarget) },
      avatar(model.me, model.dn, 32), h('span', { class: 'me-name', text: model.dn }), hidden(', ' + T.mainMenu), icon('more'));
    this.el = h('nav', { class: 'sidebar', 'aria-label': T.appName },
      h('div', { class: 'side-head' }, h('h1', { text: T.appName }), this.state),
      search,
      h('div', { class: 'side-scroll' },
        section(T.topics, this.topics),
        section(T.filters, this.filters, iconButton('plus', T.newFilter, () => app.editFilter())),
        section(T.chats, this.chats, iconButton('plus', T.newChat, () => app.newChat()))),
      h('div', { class: 'side-foot' }, me));
    this.#topics();
    this.#filters();
    this.#chats();
    this.setState(app.model.conn.state);
    this.offs = [
      model.on('topics', () => this.#topics()),
      model.on('unread', () => (this.#topics(), this.#filters())),
      model.on('filters', () => this.#filters()),
      model.on('chats', () => this.#chats()),
    ];
  }

  setState(state, retry) {
    const text = { connecting: T.stateConnecting, login: T.stateLogin, online: T.stateOnline, reconnecting: T.stateReconnecting, stopped: T.stateStopped, idle: T.stateConnecting }[state];
    this.state.dataset.state = state;
    fill(this.state, h('i', { 'aria-hidden': 'true' }), retry && state !== 'online' ? fmt(T.retryIn, { s: Math.ceil(retry / 1000) }) : text);
  }

  // Searches only the topic (or every topic when null) from now on.
  scope(topic) {
    if (topic) this.searchInput.dataset.topic = topic;
    else delete this.searchInput.dataset.topic;
    this.searchInput.placeholder = topic ? fmt(T.searchIn, { topic: this.app.model.topicName(topic) }) : T.searchPlaceholder;
  }

  // The box holds the search of the results on screen and empties when they
  // go, unless the person is typing in it.
  showSearch(route) {
    if (document.activeElement === this.searchInput) return;
    this.searchInput.value = route?.q || '';
    this.scope(route?.topic);
  }

  // Marks the entry of what the main pane shows.
  select(route) {
    this.route = route;
    const current = this.app.href(route.view === 'discussion' ? { view: 'topic', topic: route.topic } : route);
    for (const a of this.el.querySelectorAll('.nav-list a')) {
      const on = a.getAttribute('href') === current;
      a.classList.toggle('current', on);
      if (on) a.setAttribute('aria-current', 'page');
      else a.removeAttribute('aria-current');
    }
  }

  #topics() {
    const list = this.app.model.topicList();
    fill(this.topics, list.length ? list.map((t) => entry(this.app.href({ view: 'topic', topic: t.sip }), icon('hash'), t.dn, t.unread)) : h('li', { class: 'empty', text: T.noTopics }));
    if (this.route) this.select(this.route);
  }

  #filters() {
    const app = this.app;
    const items = [entry(app.href({ view: 'mentions' }), icon('at'), T.mentions, app.model.unread.mentions)];
    for (const f of app.model.filters) {
      const li = entry(app.href({ view: 'filter', id: f.id }), icon('filter'), f.name, f.unread);
      li.append(iconButton('more', T.filterActions, (e) => app.filterMenu(f, e.currentTarget), { class: 'icon-button row-menu', 'aria-haspopup': 'menu' }));
      items.push(li);
    }
    fill(this.filters, items, app.model.filters.length ? null : h('li', { class: 'empty', text: T.noFilters }));
    if (this.route) this.select(this.route);
  }

  #chats() {
    const chats = [...this.app.model.chats.values()].sort((a, b) => b.timestamp - a.timestamp);
    fill(this.chats, chats.length ? chats.map((c) => entry(this.app.href({ view: 'chat', sip: c.sip }), c.grp ? icon('users') : avatar(c.sip, c.dn, 22), c.dn, c.unread)) : h('li', { class: 'empty', text: T.noChats }));
    if (this.route) this.select(this.route);
  }

  #menu(anchor) {
    const app = this.app;
    menu(anchor, [
      { label: T.manage, icon: 'users', action: () => app.go({ view: 'manage' }) },
      app.notifications.item(),
      { label: T.logout, icon: 'logout', action: () => app.logout() },
    ], T.mainMenu);
  }

  dispose() {
    this.offs.forEach((off) => off());
  }
}

function section(title, list, action) {
  const id = 'sec-' + title.replace(/\W/g, '');
  return h('section', { class: 'nav-section', 'aria-labelledby': id }, h('div', { class: 'nav-title' }, h('h2', { id, text: title }), action), list);
}

function entry(href, lead, text, unread) {
  return h('li', null, h('a', { href, class: unread ? 'has-unread' : '' }, lead, h('span', { class: 'label', text }), badge(unread, unreadLabel)));
}
