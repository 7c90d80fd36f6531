// What the client knows and how it talks to the service: topics with their
// unread counts, messages, discussions, saved filters, chats, groups and
// people seen. Views read it and listen to its events; every change the
// person makes goes through it.
import { Emitter, debounce, guidKey, likePrefix } from './web/lib1/solvantique.lib1.js';
import { mentionsOf, tagsOf } from './solvantique.messages.text.js';
import { Outbox, PARKED } from './solvantique.messages.outbox.js';

const NUMBERS = ['id', 'addsTo', 'repliesTo', 'timestamp', 'rtimestamp', 'ltimestamp', 'replies', 'likes', 'read', 'unread'];
// The latest time a read can ask for: the largest integer JavaScript keeps exact.
const LATEST = Number.MAX_SAFE_INTEGER;
// What a live update does not know; the values already read stay.
const COUNTS = ['replies', 'likes', 'unread', 'read', 'like', 'rtimestamp'];

export class Model extends Emitter {
  // login: {sip, dn, info} as the platform answered it.
  constructor(conn, login, webPath) {
    super();
    this.conn = conn;
    this.webPath = webPath;
    this.me = login.sip;
    this.dn = login.dn || login.sip;
    const appobj = String(login.info?.appobj || '');
    this.admin = /~admin$/.test(appobj);
    this.appobj = appobj.replace(/~.*$/, '');
    this.topics = new Map();
    this.people = new Map([[this.me, this.dn]]);
    this.messages = new Map();
    this.roots = new Map();
    this.filters = [];
    this.chats = new Map();
    this.groups = new Map();
    this.unread = { mentions: 0 };
    this.outbox = new Outbox(this);
    this.likesWanted = new Set();
    this.ready = false;
    this.#seedTopics(login.info || {}, login.domain);
    this.loadChatsSoon = debounce(() => this.loadChats(), 300);
    this.refreshLikesSoon = debounce(() => this.#refreshLikes(), 300);
    conn.on('online', ({ again }) => this.#online(again));
    conn.on('push', (m) => this.#push(m));
  }

  request(msg, options) {
    return this.conn.request(msg, options);
  }

  // --- topics and counts -------------------------------------------------

  // Topics people post into: not the personal one, whose discussions are chats.
  topicList() {
    return [...this.topics.values()].filter((t) => t.sip !== this.me).sort((a, b) =>
      (b.sip === this.appobj) - (a.sip === this.appobj) || (a.dn || a.sip).localeCompare(b.dn || b.sip));
  }

  topicName(sip) {
    if (sip === this.me) return this.dn;
    return this.topics.get(sip)?.dn || sip;
  }

  async loadTopics() {
    const seen = new Set();
    await this.request({ mt: 'ReadTopics' }, {
      onRow: (t) => {
        if (t.mt !== 'Topic') return;
        seen.add(t.sip);
        const old = this.topics.get(t.sip);
        this.topics.set(t.sip, { sip: t.sip, dn: t.dn || t.sip, id: t.id || 0, admin: !!t.admin, unread: old?.unread || 0 });
      },
    });
    for (const sip of [...this.topics.keys()]) if (!seen.has(sip)) this.topics.delete(sip);
    this.emit('topics');
  }

  // After topics were written: what the session may use now, watched again.
  async topicsChanged() {
    await this.loadTopics();
    this.#registerLive();
    await this.#registerCounts();
  }

  #counted(src, filter) {
    return this.request({ mt: 'SetUnreadFilter', src, filter }).then((r) => r.count || 0);
  }

  async #registerCounts() {
    const jobs = this.topicList().map(async (t) => {
      t.unread = await this.#counted('u:t:' + t.sip, { topics: [t.sip] });
    });
    jobs.push(this.#counted('u:mentions', { notifies: [this.me] }).then((n) => (this.unread.mentions = n)));
    jobs.push(this.#counted('u:chats', { topics: [this.me], notifies: [''] }));
    await Promise.allSettled(jobs);
    this.emit('unread');
  }

  #registerLive() {
    const topics = [...this.topics.keys()];
    const filter = { op: 'or', topics };
    this.request({ mt: 'SetFilter', src: 'live', count: 0, filter }).catch(() => {});
    this.request({ mt: 'SetFilter', src: 'live:liked', count: 0, liked: true, filter }).catch(() => {});
  }

  // The service answers a session's requests in order: what the person
  // looks at is asked for first, the lists and counts around it after. The
  // page builds its views in a timer queued at the login, which an early
  // answer may overtake: the lists wait for a timer of their own, queued
  // after it.
  async #online(again) {
    this.ready = true;
    this.emit(again ? 'reconnected' : 'ready');
    await new Promise((r) => setTimeout(r));
    try {
      await this.loadTopics();
    } catch {
      return;
    }
    this.#registerLive();
    this.#registerCounts().catch(() => {});
    this.loadFilters().catch(() => {});
    this.loadChats().catch(() => {});
    this.loadGroups().catch(() => {});
    this.outbox.recoverLost();
  }

  // The login names the app's topic and the person's apps; the first view
  // needs no more than that.
  #seedTopics(info, domain) {
    const add = (sip, dn, admin = false) => sip && this.topics.set(sip, { sip, dn: dn || sip, id: 0, admin, unread: 0 });
    add(this.appobj, info.appdn, this.admin);
    for (const app of Array.isArray(info.apps) ? info.apps : []) {
      let name = String(app?.name || '');
      const at = name.indexOf('@');
      if (at >= 0 && name.slice(at + 1).replace(/~.*$/, '') === domain) name = name.slice(0, at);
      add(name.replace(/~.*$/, ''), app.dn);
    }
  }

  // --- messages -----------------------------------------------------------

  // Takes a message row; the one object per message id is kept and updated.
  ingest(row) {
    const m = { ...row };
    const live = m.update === true;
    delete m.update;
    for (const k of NUMBERS) if (k in m) m[k] = Number(m[k]) || 0;
    if ('like' in m) m.like = m.like === true;
    if (m.guid) m.guid = guidKey(m.guid);
    if (m.author && m.dn) this.#person(m.author, m.dn);
    // A row of one of this page's own posts whose answer has not come
    // (or was lost): the post is stored, and the row is that post.
    if (m.guid && !this.messages.has(m.id)) this.outbox.confirm(m.guid, m);
    let msg = this.messages.get(m.id);
    if (msg) {
      // Counts a live update does not carry stay as they are.
      for (const [k, v] of Object.entries(m)) if (v !== undefined && !(live && COUNTS.includes(k))) msg[k] = v;
    } else {
      msg = { key: 'm' + m.id, replies: 0, likes: 0, like: false, read: 0, unread: 0, ...m };
      this.messages.set(msg.id, msg);
    }
    if (!msg.repliesTo && msg.addsTo) this.roots.set(msg.addsTo, msg);
    return msg;
  }

  rootOf(discussion) {
    return this.roots.get(discussion) || null;
  }

  #person(sip, dn) {
    if (!sip) return;
    if (!this.people.has(sip) || (dn && this.people.get(sip) !== dn)) {
      this.people.set(sip, dn || this.people.get(sip) || '');
      this.emit('people');
    }
  }

  peopleList() {
    return [...this.people].filter(([sip]) => sip !== this.me).map(([sip, dn]) => ({ sip, dn }));
  }

  #push(m) {
    const src = String(m.src || '');
    if (m.mt === 'Add' && m.msg) {
      if (src === 'live:liked' || src.endsWith(':liked')) {
        const known = this.messages.get(Number(m.msg.id));
        if (known) {
          this.likesWanted.add(known.id);
          this.refreshLikesSoon();
        }
        return;
      }
      const fresh = !this.messages.has(Number(m.msg.id));
      const msg = this.ingest({ ...m.msg, update: true, timestamp: Number(m.msg.timestamp) || Date.now() });
      if (fresh) this.#arrived(msg);
      this.emit('add', msg, src);
      return;
    }
    if (src.startsWith('u:')) {
      const step = m.mt === 'SetUnread' ? 1 : m.mt === 'SetRead' ? -1 : 0;
      if (src === 'u:chats') return this.loadChatsSoon();
      if (src === 'u:mentions') this.unread.mentions = Math.max(0, this.unread.mentions + step);
      else if (src.startsWith('u:t:')) {
        const t = this.topics.get(src.slice(4));
        if (t) t.unread = Math.max(0, t.unread + step);
      } else if (src.startsWith('u:f:')) {
        const f = this.filters.find((x) => 'u:f:' + x.id === src);
        if (f) f.unread = Math.max(0, f.unread + step);
      }
      this.emit('unread');
    }
  }

  // A message somebody else just wrote: counts of its discussion, and what
  // a person should hear about.
  #arrived(msg) {
    const mine = msg.author === this.me;
    msg.read = mine ? msg.timestamp : 0;
    if (msg.repliesTo) {
      const root = this.rootOf(msg.addsTo);
      if (root) {
        root.replies++;
        if (!mine) root.unread++;
        root.rtimestamp = msg.timestamp;
        this.emit('message', root);
      }
    } else {
      msg.rtimestamp = msg.timestamp;
      msg.unread = mine ? 0 : 1;
    }
    if (mine) return;
    if (msg.topic === this.me) {
      this.loadChatsSoon();
      this.emit('notify', { kind: 'chat', msg });
    } else if (mentionsOf(msg.text || '').some((s) => s.toLowerCase() === this.me.toLowerCase())) {
      this.emit('notify', { kind: 'mention', msg });
    }
  }

  // Posting lives in its outbox; the views call these.
  post(what) {
    return this.outbox.post(what);
  }

  retry(msg) {
    this.outbox.retry(msg);
  }

  discard(msg) {
    this.outbox.discard(msg);
  }

  async edit(msg, text) {
    const r = await this.request({ mt: 'Update', id: msg.id, text, notify: mentionsOf(text), tags: tagsOf(text) });
    if (r.error) return false;
    msg.text = text;
    msg.edited = true;
    this.emit('message', msg);
    return true;
  }

  async remove(msg) {
    const r = await this.request({ mt: 'Delete', id: msg.id });
    if (r.error) return false;
    this.messages.delete(msg.id);
    if (!msg.repliesTo) this.roots.delete(msg.addsTo);
    else {
      const root = this.rootOf(msg.addsTo);
      if (root) {
        root.replies = Math.max(0, root.replies - 1);
        this.emit('message', root);
      }
    }
    this.emit('removed', msg);
    return true;
  }

  async toggleLike(msg) {
    const like = !msg.like;
    msg.like = like;
    msg.likes = Math.max(0, msg.likes + (like ? 1 : -1));
    this.emit('message', msg);
    if (like) {
      await this.request({ mt: 'Like', id: msg.id, author: msg.author, topic: msg.topic, text: msg.text, addsTo: msg.addsTo, repliesTo: msg.repliesTo || undefined });
    } else {
      await this.request({ mt: 'UnLike', id: msg.id });
    }
  }

  async likers(msg) {
    const list = [];
    await this.request({ mt: 'Likes', id: msg.id }, { onRow: (r) => r.mt === 'Like' && list.push({ sip: r.sip, time: r.time }) });
    msg.likes = list.length;
    msg.like = list.some((l) => l.sip === this.me);
    this.emit('message', msg);
    return list;
  }

  async #refreshLikes() {
    const ids = [...this.likesWanted];
    this.likesWanted.clear();
    for (const id of ids) {
      const msg = this.messages.get(id);
      if (msg) await this.likers(msg).catch(() => {});
    }
  }

  markRead(msg) {
    if (!msg.id || msg.read || msg.author === this.me || msg.pending) return;
    msg.read = Date.now();
    const root = this.rootOf(msg.addsTo);
    if (root && root.unread > 0) {
      root.unread--;
      if (root !== msg) this.emit('message', root);
    }
    this.emit('message', msg);
    this.request({ mt: 'SetRead', id: msg.id }).catch(() => (msg.read = 0));
  }

  async attachments(msg) {
    const r = await this.request({ mt: 'Attachments', id: msg.id });
    return (r.files || []).map((f) => ({ name: f.name, url: this.webPath + '/' + f.url }));
  }

  async tags(prefix) {
    const names = [];
    await this.request({ mt: 'ReadTags', like: likePrefix(prefix), count: 8 }, { onRow: (r) => r.mt === 'Tag' && names.push(r.tag) });
    return names;
  }

  // Finds the first message of a discussion, reading the topic's discussion
  // list from the discussion's time on (or from the newest).
  async findRoot(discussion, topic, time = 0) {
    const known = this.rootOf(discussion);
    if (known) return known;
    const topics = topic ? [topic] : [...this.topics.keys()];
    try {
      for (const t of topics) {
        await this.request({ mt: 'SetFilter', src: 'probe', count: 0, discussion: true, filter: { topics: [t] } });
        let at = time || LATEST;
        let last = 0;
        for (let page = 0; page < 40 && !this.rootOf(discussion); page++) {
          const rows = [];
          await this.request({ mt: 'GetMore', src: 'probe', count: 50, discussion: true, read: true, timestamp: at, id: last },
            { onRow: (r) => r.msg && rows.push(this.ingest(r.msg)) });
          if (!rows.length) break;
          at = rows[rows.length - 1].rtimestamp;
          last = rows[rows.length - 1].addsTo;
          if (time) break;
        }
        if (this.rootOf(discussion)) break;
      }
    } finally {
      this.request({ mt: 'SetFilter', src: 'probe', ...PARKED }).catch(() => {});
    }
    return this.rootOf(discussion);
  }

  // --- saved filters ------------------------------------------------------

  async loadFilters() {
    const list = [];
    await this.request({ mt: 'ReadFilters' }, {
      onRow: (r) => {
        if (r.mt !== 'Filter') return;
        let filter = {};
        try {
          filter = JSON.parse(r.filter || '{}') || {};
        } catch {
          /* somebody else's format: shown, matching everything */
        }
        const old = this.filters.find((f) => f.id === r.id);
        list.push({ id: r.id, name: r.text || r.dn || '?', filter, unread: old?.unread || 0 });
      },
    });
    this.filters = list;
    this.emit('filters');
    await Promise.allSettled(list.map(async (f) => {
      f.unread = await this.#counted('u:f:' + f.id, serverFilter(f.filter));
    }));
    this.emit('unread');
  }

  async saveFilter({ id = 0, name, filter }) {
    await this.request({ mt: 'WriteFilter', id: id || undefined, filter: JSON.stringify(filter), text: name });
    await this.loadFilters();
  }

  // The service only moves a filter to the end; moving one up moves every
  // filter from its new place on to the end, in order.
  async moveFilter(id, step) {
    const order = this.filters.map((f) => f.id);
    const i = order.indexOf(id);
    const j = i + step;
    if (i < 0 || j < 0 || j >= order.length) return;
    [order[i], order[j]] = [order[j], order[i]];
    for (const f of order.slice(Math.min(i, j))) await this.request({ mt: 'WriteFilter', id: f, seq: true });
    await this.loadFilters();
  }

  async deleteFilter(id) {
    await this.request({ mt: 'WriteFilter', id });
    this.filters = this.filters.filter((f) => f.id !== id);
    this.emit('filters');
  }

  // --- chats and groups ---------------------------------------------------

  async loadChats() {
    const chats = new Map();
    await this.request({ mt: 'ReadChats' }, {
      onRow: (r) => r.mt === 'ReadChatsInd' && chats.set(r.sip, { sip: r.sip, dn: r.dn || r.sip, grp: !!r.grp, timestamp: Number(r.timestamp) || 0, unread: 0 }),
    });
    await this.request({ mt: 'ReadChats', unread: true }, {
      onRow: (r) => {
        const c = chats.get(r.sip);
        if (c) c.unread = r.unread || 0;
      },
    });
    for (const [sip, c] of this.chats) if (!chats.has(sip) && c.local) chats.set(sip, c);
    this.chats = chats;
    for (const c of chats.values()) if (!c.grp) this.#person(c.sip, c.dn === c.sip ? '' : c.dn);
    this.emit('chats');
  }

  // A chat opened before its first message has a place in the list.
  openChat(sip, dn, grp = false) {
    if (!this.chats.has(sip)) {
      this.chats.set(sip, { sip, dn: dn || this.people.get(sip) || sip, grp, timestamp: Date.now(), unread: 0, local: true });
      this.emit('chats');
    }
    return this.chats.get(sip);
  }

  async readChat(partner, older = 0, count = 30) {
    const rows = [];
    await this.request({ mt: 'ReadChat', sip: partner, older, count }, {
      onRow: (r) => {
        if (r.mt !== 'ReadChatInd') return;
        const msg = this.ingest({ id: r.id, author: r.author, dn: r.dn, text: r.text, guid: r.guid, timestamp: r.timestamp, topic: this.me, type: 1, read: 1 });
        msg.attached = r.attached || null;
        msg.attach = r.attach || null;
        rows.push(msg);
      },
    });
    const chat = this.chats.get(partner);
    if (chat && chat.unread) {
      chat.unread = 0;
      this.emit('chats');
    }
    return rows;
  }

  async loadGroups() {
    const groups = new Map();
    await this.request({ mt: 'ReadGroups', user: this.me }, {
      onRow: (r) => r.mt === 'ReadGroupsInd' && groups.set(r.id, { id: r.id, sip: r.sip, dn: r.dn || r.sip, members: this.groups.get(r.id)?.members || null }),
    });
    this.groups = groups;
    this.emit('groups');
    for (const g of [...groups.values()].slice(0, 20)) await this.members(g).catch(() => {});
  }

  async members(group) {
    const list = [];
    await this.request({ mt: 'ReadMembers', id: group.id }, {
      onRow: (r) => r.mt === 'ReadMembersInd' && list.push({ id: r.id, sip: r.sip, dn: r.dn || '', admin: !!r.admin }),
    });
    group.members = list;
    for (const m of list) this.#person(m.sip, m.dn);
    this.emit('groups');
    return list;
  }
}

// The stored filter without what the client keeps beside it.
export function serverFilter(f) {
  const out = {};
  for (const k of ['topics', 'tags', 'authors', 'notifies']) if (Array.isArray(f[k]) && f[k].length) out[k] = f[k];
  if (f.op === 'or') out.op = 'or';
  return out;
}
