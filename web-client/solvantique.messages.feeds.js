// Paged lists the views show: a topic's discussions, a discussion's
// replies, the messages of a filter or a search, and a chat. A feed reads
// its first page, reads on when asked, follows live updates, and reads
// again after a reconnect.
import { Emitter } from './web/lib1/solvantique.lib1.js';
import { serverFilter } from './solvantique.messages.model.js';

// Rows of one read; a page fills a tall window and a bit.
export const PAGE = 40;

class Feed extends Emitter {
  constructor(model, { newestFirst = true } = {}) {
    super();
    this.model = model;
    this.newestFirst = newestFirst;
    this.keys = [];
    this.items = new Map();
    this.loading = false;
    this.done = false;
    this.loaded = false;
    this.gen = 0;
    this.offs = [];
    this.listen('reconnected', () => this.load());
    this.listen('message', (msg) => this.items.has(msg.key) && this.emit('item', msg.key));
    this.listen('progress', (msg) => this.items.has(msg.key) && this.emit('item', msg.key));
    this.listen('removed', (msg) => this.remove(msg));
  }

  listen(name, fn) {
    this.offs.push(this.model.on(name, fn));
  }

  dispose() {
    this.offs.forEach((off) => off());
    this.offs = [];
    this.gen++;
    this.disposed = true;
  }

  get(key) {
    return this.items.get(key);
  }

  // The last item in reading order: where the next page starts.
  get oldest() {
    return this.items.get(this.newestFirst ? this.keys[this.keys.length - 1] : this.keys[0]);
  }

  async load() {
    const gen = ++this.gen;
    this.loading = true;
    this.done = false;
    this.emit('change');
    let read = false;
    // A list shown for the first time takes its rows as they come ("grow"):
    // the first screenful is drawn before the page's last row has arrived.
    const streamed = !this.keys.length;
    const each = streamed ? (m) => gen === this.gen && this.#grow(m) : null;
    try {
      const rows = await this.first(each);
      if (gen !== this.gen) return;
      // Messages written here that the read may not have seen yet stay.
      const local = [...this.items.values()].filter((m) => m.key.startsWith('g'));
      this.keys = [];
      this.items.clear();
      this.#take(rows);
      for (const m of local) if (!this.items.has(m.key)) this.#place(m);
      this.loaded = read = true;
    } catch (err) {
      if (gen === this.gen && !err.disconnected) this.error = err;
    } finally {
      if (gen === this.gen) {
        this.loading = false;
        this.emit('change');
        // Items shown before may have changed while they were not watched.
        if (read && !streamed) this.emit('reset');
      }
    }
  }

  async more() {
    if (this.loading || this.done || this.disposed || !this.loaded || !this.keys.length) return;
    const gen = this.gen;
    this.loading = true;
    this.emit('change');
    try {
      const rows = await this.next();
      if (gen === this.gen) this.#take(rows);
    } catch {
      /* read again when asked next */
    } finally {
      if (gen === this.gen) {
        this.loading = false;
        this.emit('change');
      }
    }
  }

  // Rows of a page, newest first as the service sends them.
  #take(rows) {
    if (rows.length < this.pageSize()) this.done = true;
    const fresh = rows.filter((m) => !this.items.has(m.key));
    for (const m of fresh) this.items.set(m.key, m);
    const keys = fresh.map((m) => m.key);
    this.keys = this.newestFirst ? [...this.keys, ...keys] : [...keys.reverse(), ...this.keys];
  }

  #grow(msg) {
    if (this.items.has(msg.key)) return;
    this.items.set(msg.key, msg);
    this.keys = [...this.keys, msg.key];
    this.emit('grow');
  }

  #place(msg) {
    this.items.set(msg.key, msg);
    this.keys = this.newestFirst ? [msg.key, ...this.keys] : [...this.keys, msg.key];
  }

  pageSize() {
    return PAGE;
  }

  // A new item where the newest go.
  addNewest(msg) {
    if (this.items.has(msg.key)) return false;
    this.#place(msg);
    this.emit('change');
    return true;
  }

  toNewest(msg) {
    this.keys = this.keys.filter((k) => k !== msg.key);
    this.items.delete(msg.key);
    this.addNewest(msg);
  }

  remove(msg) {
    if (!this.items.has(msg.key)) return;
    this.items.delete(msg.key);
    this.keys = this.keys.filter((k) => k !== msg.key);
    this.emit('change');
  }

  // each(message) hears of every row as it comes.
  rows(msg, each) {
    const rows = [];
    const onRow = (r) => {
      if (!r.msg) return;
      const m = this.model.ingest(r.msg);
      rows.push(m);
      each?.(m);
    };
    return this.model.request(msg, { onRow }).then(() => rows);
  }
}

// The discussions of a topic, latest activity first; items are the roots.
export class TopicFeed extends Feed {
  constructor(model, topic) {
    super(model);
    this.topic = topic;
    this.src = 'view:topic';
    this.listen('add', (msg) => this.#live(msg));
    this.listen('local', (msg) => msg.topic === topic && !msg.repliesTo && !msg.addsTo && !msg.type && this.addNewest(msg));
    this.listen('posted', (msg) => {
      const root = msg.repliesTo && model.rootOf(msg.addsTo);
      if (root && this.items.has(root.key)) this.toNewest(root);
    });
  }

  first(each) {
    return this.rows({ mt: 'SetFilter', src: this.src, discussion: true, read: true, count: PAGE, filter: { topics: [this.topic] } }, each);
  }

  next() {
    const last = this.oldest;
    return this.rows({ mt: 'GetMore', src: this.src, discussion: true, read: true, count: PAGE, timestamp: last.rtimestamp, id: last.addsTo });
  }

  async #live(msg) {
    if (msg.topic !== this.topic) return;
    if (!msg.repliesTo) {
      this.addNewest(msg);
      return;
    }
    const root = this.model.rootOf(msg.addsTo) || (await this.model.findRoot(msg.addsTo, this.topic));
    if (root && !this.disposed) this.toNewest(root);
  }
}

// The replies of a discussion, oldest first; the root is kept apart.
export class DiscussionFeed extends Feed {
  constructor(model, discussion, topic, time = 0) {
    super(model, { newestFirst: false });
    this.discussion = discussion;
    this.topic = topic;
    this.time = time;
    this.root = model.rootOf(discussion);
    this.src = 'view:disc';
    const mine = (msg) => msg.addsTo === discussion && msg.repliesTo;
    this.listen('add', (msg) => mine(msg) && this.addNewest(msg));
    this.listen('local', (msg) => mine(msg) && this.addNewest(msg));
    this.listen('removed', (msg) => {
      if (msg === this.root) this.emit('gone');
    });
  }

  async first() {
    const rows = await this.rows({ mt: 'SetFilter', src: this.src, addsTo: this.discussion, read: true, count: PAGE });
    if (!this.root) {
      const hint = rows[0];
      this.root = await this.model.findRoot(this.discussion, this.topic || hint?.topic, hint?.rtimestamp || this.time);
      if (!this.root) this.missing = true;
    }
    if (this.root) this.topic = this.root.topic;
    return rows;
  }

  next() {
    const last = this.oldest;
    return this.rows({ mt: 'GetMore', src: this.src, addsTo: this.discussion, read: true, count: PAGE, timestamp: last.timestamp, id: last.id });
  }
}

// Messages under a filter, newest activity first, followed live.
export class FilterFeed extends Feed {
  constructor(model, filter) {
    super(model);
    this.filter = filter;
    this.src = 'view:filter';
    this.listen('add', (msg, src) => src === this.src && this.addNewest(msg));
  }

  first() {
    return this.rows({ mt: 'SetFilter', src: this.src, read: true, count: PAGE, liked: !!this.filter.liked, filter: serverFilter(this.filter) });
  }

  next() {
    const last = this.oldest;
    const liked = !!this.filter.liked;
    return this.rows({ mt: 'GetMore', src: this.src, read: true, count: PAGE, liked, timestamp: liked ? last.ltimestamp : last.rtimestamp, id: last.id });
  }
}

// Search results, newest first; words match by their beginning.
export class SearchFeed extends Feed {
  constructor(model, text, topic) {
    super(model);
    this.text = text;
    this.topic = topic || undefined;
  }

  first() {
    return this.rows({ mt: 'Search', src: 'search', text: this.text, topic: this.topic, count: PAGE });
  }

  next() {
    return this.rows({ mt: 'Search', src: 'search', text: this.text, topic: this.topic, count: PAGE, more: this.oldest.id });
  }
}

// One chat, oldest first. Reading a chat marks it read, so a hidden page
// reads what came only when it is seen again.
export class ChatFeed extends Feed {
  constructor(model, partner) {
    super(model, { newestFirst: false });
    this.partner = partner;
    this.stale = false;
    this.listen('add', (msg) => msg.topic === model.me && this.#fresh());
    this.listen('local', (msg) => msg.type === 1 && msg.partner === partner && this.addNewest(msg));
    this.onVisible = () => !document.hidden && this.stale && this.#fresh();
    document.addEventListener('visibilitychange', this.onVisible);
  }

  dispose() {
    super.dispose();
    document.removeEventListener('visibilitychange', this.onVisible);
  }

  first() {
    return this.model.readChat(this.partner, 0, PAGE);
  }

  next() {
    return this.model.readChat(this.partner, this.oldest.timestamp, PAGE);
  }

  async #fresh() {
    if (document.hidden) {
      this.stale = true;
      return;
    }
    this.stale = false;
    const rows = await this.model.readChat(this.partner, 0, 10).catch(() => []);
    if (this.disposed) return;
    for (const m of rows.reverse()) {
      const twin = [...this.items.values()].find((x) => x.guid && x.guid === m.guid && x !== m);
      if (twin) continue;
      this.addNewest(m);
    }
  }
}
