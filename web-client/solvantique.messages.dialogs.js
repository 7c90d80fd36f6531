// Dialogs of the main page: a saved filter made or changed, a filter's
// menu, and a new chat.
import { formDialog, confirmDialog, menu } from './web/ui1.popup/solvantique.ui1.popup.js';
import { T, fmt } from './solvantique.messagesTexts.js';

export async function editFilter(app, saved) {
  const model = app.model;
  const f = saved?.filter || {};
  const topics = [{ value: '', label: T.anyTopic }, ...model.topicList().map((t) => ({ value: t.sip, label: t.dn }))];
  const values = await formDialog({
    title: saved ? T.editFilter : T.newFilter,
    ok: T.saveFilter,
    cancel: T.cancel,
    fields: [
      { name: 'name', label: T.filterName, value: saved?.name || '', required: true },
      { name: 'topic', label: T.filterTopic, type: 'select', value: f.topics?.[0] || '', options: topics },
      { name: 'tag', label: T.filterTag, value: f.tags?.[0] || '', placeholder: '#' },
      { name: 'author', label: T.filterAuthor, value: f.authors?.[0] || '', placeholder: '@' },
      { name: 'mentions', label: T.filterMentions, type: 'checkbox', value: !!f.notifies?.length },
      { name: 'liked', label: T.filterLiked, type: 'checkbox', value: !!f.liked },
    ],
  });
  if (!values || !values.name) return;
  const filter = {};
  if (values.topic) filter.topics = [values.topic];
  if (values.tag) filter.tags = [values.tag.replace(/^#/, '')];
  if (values.author) filter.authors = [values.author.replace(/^@/, '')];
  if (values.mentions) filter.notifies = [model.me];
  if (values.liked) filter.liked = true;
  await model.saveFilter({ id: saved?.id, name: values.name, filter });
  const made = saved || model.filters[model.filters.length - 1];
  if (made) app.go({ view: 'filter', id: made.id }, { reload: true });
}

export function filterMenu(app, f, anchor) {
  const model = app.model;
  const i = model.filters.indexOf(f);
  menu(anchor, [
    { label: T.editFilter, icon: 'edit', action: () => editFilter(app, f) },
    i > 0 && { label: T.moveUp, icon: 'up', action: () => model.moveFilter(f.id, -1) },
    i < model.filters.length - 1 && { label: T.moveDown, icon: 'down', action: () => model.moveFilter(f.id, 1) },
    {
      label: T.deleteFilter, icon: 'trash', danger: true,
      action: async () => {
        const ok = await confirmDialog({ title: T.deleteFilter, text: fmt(T.deleteFilterText, { name: f.name }), ok: T.delete, cancel: T.cancel, danger: true });
        if (!ok) return;
        await model.deleteFilter(f.id);
        if (app.route.view === 'filter' && app.route.id === f.id) app.go({ view: 'home' });
      },
    },
  ], T.filterActions);
}

export async function newChat(app) {
  const model = app.model;
  const options = [
    ...[...model.groups.values()].map((g) => ({ value: 'g:' + g.sip, label: g.dn + ' (' + T.group + ')' })),
    ...model.peopleList().sort((a, b) => (a.dn || a.sip).localeCompare(b.dn || b.sip)).map((p) => ({ value: 'p:' + p.sip, label: p.dn ? `${p.dn} (${p.sip})` : p.sip })),
  ];
  const fields = [{ name: 'sip', label: T.chatPerson, required: !options.length, placeholder: 'name' }];
  if (options.length) fields.unshift({ name: 'pick', label: T.chats, type: 'select', value: '', options: [{ value: '', label: '\u2014' }, ...options] });
  const values = await formDialog({ title: T.newChat, ok: T.startChat, cancel: T.cancel, fields });
  if (!values) return;
  const picked = values.sip || values.pick?.slice(2);
  if (!picked) return;
  const group = values.pick?.startsWith('g:') && !values.sip ? [...model.groups.values()].find((g) => g.sip === picked) : null;
  model.openChat(picked, group ? group.dn : model.people.get(picked), !!group);
  app.go({ view: 'chat', sip: picked });
}
