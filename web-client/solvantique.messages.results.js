// Messages from many discussions: a saved filter, mentions, a tag, or a
// search with its words marked. Each leads to its discussion.
import { h } from './web/lib1/solvantique.lib1.js';
import { iconButton } from './web/ui1.lib/solvantique.ui1.lib.js';
import { WindowedList } from './web/ui1.scrolling/solvantique.ui1.scrolling.js';
import { FilterFeed, SearchFeed } from './solvantique.messages.feeds.js';
import { messageItem } from './solvantique.messages.item.js';
import { marksFor } from './solvantique.messages.text.js';
import { feedFooter } from './solvantique.messages.topic.js';
import { T, fmt } from './solvantique.messagesTexts.js';

// what: {kind: 'filter'|'mentions'|'tag'|'search', filter, title, q, topic}
export class ResultsView {
  constructor(app, what) {
    this.app = app;
    this.what = what;
    this.marks = what.kind === 'search' ? marksFor(what.q) : null;
    this.feed = what.kind === 'search' ? new SearchFeed(app.model, what.q, what.topic) : new FilterFeed(app.model, what.filter);
    this.list = new WindowedList({
      label: what.title, estimate: 120, className: 'results',
      render: (key) => this.#render(key), onNearEnd: () => this.feed.more(),
    });
    const tools = what.kind === 'filter' ? iconButton('edit', T.editFilter, () => app.editFilter(what.saved)) : null;
    this.el = h('section', { class: 'view results-view', 'aria-label': what.title },
      h('header', { class: 'view-head' }, app.backButton('nav'), h('h2', { text: what.title }), tools),
      what.kind === 'search' && what.topic ? h('p', { class: 'note', text: fmt(T.searchIn, { topic: app.model.topicName(what.topic) }) }) : null,
      this.list.el);
    this.feed.on('change', () => {
      this.list.setKeys(this.feed.keys);
      feedFooter(this.list, this.feed, what.kind === 'search' ? fmt(T.searchNone, { q: what.q }) : T.filterEmpty);
    });
    this.feed.on('item', (key) => this.list.refresh(key));
    this.feed.on('reset', () => this.list.refreshAll());
    this.feed.load();
  }

  #render(key) {
    const msg = this.feed.get(key);
    const node = messageItem(this.app, msg, { marks: this.marks, showTopic: true });
    node.classList.add('result');
    const open = () => this.app.go({ view: 'discussion', id: msg.addsTo, topic: msg.topic, time: msg.rtimestamp });
    node.addEventListener('click', (e) => !e.target.closest('a, button') && !getSelection().toString() && open());
    node.addEventListener('keydown', (e) => e.key === 'Enter' && e.target === node && open());
    return node;
  }

  dispose() {
    this.feed.dispose();
  }
}
