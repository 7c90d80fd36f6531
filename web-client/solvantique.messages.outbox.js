// Posts on their way: shown at once, sent, sent again after a lost
// connection, and never stored twice: a post carries a guid, and after a
// connection was lost with its answer the guid tells whether it arrived.
import { uuid, guidKey } from './web/lib1/solvantique.lib1.js';
import { mentionsOf, tagsOf, withFiles } from './solvantique.messages.text.js';
import { upload } from './web/ui1.file/solvantique.ui1.file.js';

const POST_TIMEOUT = 15000;
// A filter that matches nothing, for a name that must stay registered.
export const PARKED = { count: 0, liked: true, filter: { authors: ['\u0000'] } };

export class Outbox {
  constructor(model) {
    this.model = model;
    this.entries = new Map();
  }

  // A row of one of this page's own posts whose answer has not come (or
  // was lost): the post is stored, and the row is that post.
  confirm(guid, row) {
    const entry = this.entries.get(guid);
    if (entry) this.#posted(entry, row);
  }

  recoverLost() {
    for (const entry of this.entries.values()) if (entry.lost) this.#recover(entry);
  }

  // Posts a message; it shows at once and is sent (again, after a lost
  // connection) until the service has it.
  post({ topic, text, addsTo = 0, repliesTo = 0, type = 0, notify = [], files = [] }) {
    const model = this.model;
    const guid = uuid();
    const now = Date.now();
    const msg = {
      key: 'g' + guidKey(guid), id: 0, guid: guidKey(guid), addsTo, repliesTo, author: model.me, dn: model.dn, topic,
      tdn: model.topicName(topic), text, timestamp: now, rtimestamp: now, replies: 0, likes: 0, like: false, read: now, unread: 0,
      pending: true, type, partner: type === 1 ? notify[0] : undefined, files: files.map((f) => ({ name: f.name, size: f.size, loaded: 0 })),
    };
    // A chat message names only its partner: the service delivers a copy to each notified side.
    const people = new Set(type === 1 ? notify : [...notify, ...mentionsOf(text)]);
    const request = {
      mt: 'Post', topic, text, guid, type: type || undefined, addsTo: addsTo || undefined, repliesTo: repliesTo || undefined,
      notify: [...people], tags: tagsOf(text), deliver: type === 1 || undefined,
    };
    const entry = { msg, request, files, urls: null, lost: false };
    this.entries.set(msg.guid, entry);
    model.emit('local', msg);
    this.#send(entry);
    return msg;
  }

  retry(msg) {
    const model = this.model;
    const entry = this.entries.get(msg.guid);
    if (!entry) return;
    msg.failed = false;
    model.emit('message', msg);
    this.#send(entry);
  }

  discard(msg) {
    const model = this.model;
    this.entries.delete(msg.guid);
    model.emit('removed', msg);
  }

  async #send(entry) {
    const model = this.model;
    const { msg } = entry;
    // Stored already (a read showed it): nothing to send again.
    if (this.entries.get(msg.guid) !== entry) return;
    try {
      if (entry.files.length && !entry.urls) entry.urls = await this.#upload(entry);
      if (entry.urls) {
        entry.request.attach = entry.urls.join(' ');
        entry.request.text = withFiles(msg.text, entry.files.map((f) => f.name));
      }
      // A post unanswered for long is taken as lost and found again by its guid.
      const r = await model.request({ ...entry.request, src: 'post:' + msg.guid }, { timeout: POST_TIMEOUT });
      if (r.error) throw new Error('refused');
      this.#posted(entry, r);
    } catch (err) {
      if (err.disconnected) {
        entry.lost = true;
        return;
      }
      msg.failed = true;
      model.emit('message', msg);
    }
  }

  #posted(entry, r) {
    const model = this.model;
    const { msg } = entry;
    if (this.entries.get(msg.guid) !== entry) return;
    this.entries.delete(msg.guid);
    msg.pending = false;
    msg.failed = false;
    msg.id = Number(r.id) || 0;
    msg.addsTo = Number(r.addsTo) || msg.addsTo;
    msg.text = entry.request.text;
    // Its files are stored after the answer: the count has the list asked
    // for again until they are all there.
    if (entry.files.length) msg.attached = entry.files.length;
    if (r.session) model.session = { session: r.session, key: r.key };
    model.messages.set(msg.id, msg);
    if (!msg.repliesTo) {
      model.roots.set(msg.addsTo, msg);
    } else {
      const root = model.rootOf(msg.addsTo);
      if (root) {
        root.replies++;
        root.rtimestamp = Date.now();
        model.emit('message', root);
      }
    }
    model.emit('message', msg);
    model.emit('posted', msg);
  }

  async #upload(entry) {
    const model = this.model;
    const urls = [];
    for (let i = 0; i < entry.files.length; i++) {
      const state = entry.msg.files[i];
      urls.push(await upload(entry.files[i], (name) => model.request({ mt: 'CreateFileBuffer', name }), (loaded) => {
        state.loaded = loaded;
        model.emit('progress', entry.msg);
      }));
    }
    return urls;
  }

  // After a lost connection a post may or may not have been stored; its
  // guid tells, so that nothing is posted twice and nothing is lost.
  async #recover(entry) {
    const model = this.model;
    entry.lost = false;
    const { msg, request } = entry;
    const read = request.addsTo || request.repliesTo
      ? { addsTo: msg.addsTo || (await this.#discussionOf(request.repliesTo)) }
      : { discussion: true, filter: { topics: [request.topic] } };
    let found = null;
    try {
      await model.request({ mt: 'SetFilter', src: 'probe', count: 40, ...read }, {
        onRow: (row) => {
          if (row.msg && guidKey(row.msg.guid) === msg.guid) found = row.msg;
        },
      });
      model.request({ mt: 'SetFilter', src: 'probe', ...PARKED }).catch(() => {});
    } catch {
      entry.lost = true;
      return;
    }
    if (found) this.#posted(entry, { id: found.id, addsTo: found.addsTo });
    else this.#send(entry);
  }

  async #discussionOf(messageId) {
    const model = this.model;
    return model.messages.get(messageId)?.addsTo;
  }
}
