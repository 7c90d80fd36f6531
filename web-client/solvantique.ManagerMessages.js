// Administration: the groups a person is in with their members, and for
// administrators the topics, their sub-topics and who may use them.
import { h, fill } from './web/lib1/solvantique.lib1.js';
import { icon } from './web/ui1.svg/solvantique.ui1.svg.js';
import { iconButton, button, spinner } from './web/ui1.lib/solvantique.ui1.lib.js';
import { formDialog, confirmDialog, menu, toast } from './web/ui1.popup/solvantique.ui1.popup.js';
import { avatar } from './web/com.solvantique.avatar/com.solvantique.avatar.js';
import { fmt } from './solvantique.messagesTexts.js';
import { M } from './solvantique.ManagerMessagesTexts.js';

let ids = 0;

// Runs a change; says so when the service refused it (for a creation:
// when the answer names no new id).
async function change(work, after, creates = false) {
  try {
    const r = await work();
    if (r.error || (creates && !r.id)) throw new Error('refused');
    await after?.();
    return r;
  } catch {
    toast(M.failed);
    return null;
  }
}

function peopleList(model) {
  const id = 'people' + ++ids;
  return { id, node: h('datalist', { id }, model.peopleList().map((p) => h('option', { value: p.sip, label: p.dn || p.sip }))) };
}

export class ManagerView {
  constructor(app) {
    this.app = app;
    this.model = app.model;
    this.tab = 'groups';
    this.body = h('div', { class: 'manage-body', role: 'tabpanel', tabindex: '0' });
    const tabs = [['groups', M.groups]];
    if (this.#adminTopics().length) tabs.push(['topics', M.topics]);
    this.tabs = tabs.map(([key, text]) => h('button', {
      type: 'button', role: 'tab', id: 'tab-' + key, class: 'tab', text, 'aria-selected': String(key === this.tab),
      onclick: () => this.#show(key),
    }));
    this.tabList = h('div', { class: 'tabs', role: 'tablist', 'aria-label': M.title }, this.tabs);
    this.tabList.addEventListener('keydown', (e) => {
      const i = this.tabs.indexOf(document.activeElement);
      const step = { ArrowRight: 1, ArrowLeft: -1 }[e.key];
      if (i < 0 || !step) return;
      const next = this.tabs[(i + step + this.tabs.length) % this.tabs.length];
      next.focus();
      next.click();
    });
    this.el = h('section', { class: 'view manage-view', 'aria-label': M.title },
      h('header', { class: 'view-head' }, app.backButton('nav'), h('h2', { text: M.title })),
      this.tabList, this.body);
    this.offs = [this.model.on('groups', () => this.tab === 'groups' && this.#render())];
    this.#show('groups');
  }

  #adminTopics() {
    return this.model.topicList().filter((t) => t.admin || this.model.admin);
  }

  #show(key) {
    this.tab = key;
    this.tabs.forEach((t) => t.setAttribute('aria-selected', String(t.id === 'tab-' + key)));
    this.tabs.forEach((t) => (t.tabIndex = t.id === 'tab-' + key ? 0 : -1));
    this.body.setAttribute('aria-labelledby', 'tab-' + key);
    this.#render();
  }

  #render() {
    if (this.tab === 'groups') this.#groups();
    else this.#topics();
  }

  // --- groups -------------------------------------------------------------

  #groups() {
    const model = this.model;
    const groups = [...model.groups.values()];
    fill(this.body,
      h('div', { class: 'manage-tools' }, button(M.newGroup, () => this.#newGroup(), { icon: 'plus', class: 'button primary' })),
      groups.length ? groups.map((g) => this.#group(g)) : h('p', { class: 'empty', text: M.noGroups }));
  }

  #group(g) {
    const model = this.model;
    const people = peopleList(model);
    const input = h('input', { list: people.id, placeholder: M.memberName, 'aria-label': M.memberName, autocomplete: 'off' });
    const add = h('form', { class: 'inline-form', onsubmit: (e) => {
      e.preventDefault();
      const member = input.value.trim().replace(/^@/, '');
      if (member) change(() => model.request({ mt: 'WriteMember', grp: g.id, member }), () => model.members(g).then(() => input.focus()));
    } }, input, people.node, h('button', { type: 'submit', class: 'button', text: M.addMember }));
    const members = g.members ? h('ul', { class: 'member-list', 'aria-label': M.members }, g.members.map((m) => this.#member(g, m))) : spinner();
    return h('article', { class: 'card', 'aria-label': g.dn },
      h('div', { class: 'card-head' }, icon('users'), h('div', { class: 'card-title' }, h('h3', { text: g.dn }), h('small', { text: g.sip })),
        button(M.groupChat, () => {
          model.openChat(g.sip, g.dn, true);
          this.app.go({ view: 'chat', sip: g.sip });
        }, { icon: 'chat' }),
        iconButton('more', fmt(M.groupActions, { name: g.dn }), (e) => menu(e.currentTarget, [
          { label: M.rename, icon: 'edit', action: () => this.#renameGroup(g) },
          { label: M.delete, icon: 'trash', danger: true, action: () => this.#deleteGroup(g) },
        ]), { 'aria-haspopup': 'menu' })),
      members, add);
  }

  #member(g, m) {
    const model = this.model;
    const name = m.dn || m.sip;
    return h('li', null, avatar(m.sip, name, 28), h('span', { class: 'member-name', text: name }), m.dn ? h('small', { text: m.sip }) : null,
      m.admin ? h('span', { class: 'chip', text: M.admin }) : null,
      iconButton('more', fmt(M.memberActions, { name }), (e) => menu(e.currentTarget, [
        {
          label: m.admin ? M.dropAdmin : M.makeAdmin, icon: 'lock',
          action: () => change(() => model.request({ mt: 'WriteMember', id: m.id, grp: g.id, member: m.sip, admin: !m.admin }), () => model.members(g)),
        },
        { label: fmt(M.remove, { name }), icon: 'trash', danger: true, action: () => change(() => model.request({ mt: 'WriteMember', id: m.id }), () => model.members(g)) },
      ]), { 'aria-haspopup': 'menu' }));
  }

  async #newGroup() {
    const v = await formDialog({
      title: M.newGroup, ok: M.create,
      fields: [{ name: 'dn', label: M.groupName, required: true }, { name: 'grp', label: M.groupId, hint: M.groupIdHint }],
    });
    if (!v || !v.dn) return;
    const grp = v.grp.replace(/[^\p{L}\p{N}_.-]/gu, '') || undefined;
    await change(() => this.model.request({ mt: 'WriteGroup', grp, dn: v.dn, user: this.model.me }), () => this.model.loadGroups(), true);
  }

  async #renameGroup(g) {
    const v = await formDialog({ title: M.rename, ok: M.save, fields: [{ name: 'dn', label: M.groupName, value: g.dn, required: true }] });
    if (!v || !v.dn) return;
    const grp = g.sip.slice(g.sip.indexOf('?') + 1);
    await change(() => this.model.request({ mt: 'WriteGroup', id: g.id, grp, dn: v.dn }), () => this.model.loadGroups());
  }

  async #deleteGroup(g) {
    const ok = await confirmDialog({ title: M.deleteGroup, text: fmt(M.deleteGroupText, { name: g.dn }), ok: M.delete, danger: true });
    if (ok) await change(() => this.model.request({ mt: 'WriteGroup', id: g.id, user: this.model.me }), () => this.model.loadGroups());
  }

  // --- topics -------------------------------------------------------------

  #topics() {
    const topics = this.#adminTopics();
    fill(this.body, h('p', { class: 'note', text: M.nextLogin }), topics.length ? topics.map((t) => this.#topic(t)) : h('p', { class: 'empty', text: M.notAdmin }));
  }

  #topic(t) {
    const access = h('ul', { class: 'member-list', 'aria-label': M.access }, h('li', null, spinner()));
    const card = h('article', { class: 'card', 'aria-label': t.dn },
      h('div', { class: 'card-head' }, icon('hash'), h('div', { class: 'card-title' }, h('h3', { text: t.dn }), h('small', { text: t.sip })),
        button(M.newSubTopic, () => this.#newSubTopic(t), { icon: 'plus' }),
        t.sip.includes('?') ? iconButton('more', fmt(M.topicActions, { name: t.dn }), (e) => menu(e.currentTarget, [
          { label: M.rename, icon: 'edit', action: () => this.#renameTopic(t) },
          { label: M.delete, icon: 'trash', danger: true, action: () => this.#deleteTopic(t) },
        ]), { 'aria-haspopup': 'menu' }) : null),
      h('h4', { text: M.access }), access, this.#grantForm(t, () => this.#access(t, access)));
    this.#access(t, access);
    return card;
  }

  async #access(t, list) {
    const rows = [];
    try {
      await this.model.request({ mt: 'ReadTopicAccess', topic: t.sip }, { onRow: (r) => r.mt === 'TopicAccess' && rows.push(r) });
    } catch {
      return;
    }
    fill(list, rows.map((r) => {
      const name = r.sip ? (r.grp ? this.#groupName(r.sip) : this.model.people.get(r.sip) || r.sip) : M.everyone;
      return h('li', null, r.grp || !r.sip ? icon('users') : avatar(r.sip, name, 28), h('span', { class: 'member-name', text: name }),
        r.admin ? h('span', { class: 'chip', text: M.admin }) : null,
        iconButton('close', M.revoke + ': ' + name, () => change(() => this.model.request({ mt: 'WriteTopicAccess', topic: t.sip, id: r.id }), () => this.#access(t, list))));
    }));
  }

  #groupName(sip) {
    return [...this.model.groups.values()].find((g) => g.sip === sip)?.dn || sip;
  }

  #grantForm(t, reload) {
    const people = peopleList(this.model);
    const who = h('input', { list: people.id, placeholder: M.everyone, 'aria-label': M.grantTo, autocomplete: 'off' });
    const grp = h('input', { type: 'checkbox' });
    const admin = h('input', { type: 'checkbox' });
    return h('form', { class: 'inline-form', onsubmit: (e) => {
      e.preventDefault();
      const sip = who.value.trim().replace(/^@/, '');
      change(() => this.model.request({ mt: 'WriteTopicAccess', topic: t.sip, sip, grp: grp.checked, admin: admin.checked }), () => {
        who.value = '';
        return reload();
      }, true);
    } }, who, people.node,
    h('label', { class: 'check' }, grp, M.isGroup), h('label', { class: 'check' }, admin, M.admin),
    h('button', { type: 'submit', class: 'button', text: M.grant }));
  }

  async #newSubTopic(parent) {
    const v = await formDialog({
      title: M.newSubTopic, ok: M.create,
      fields: [{ name: 'dn', label: M.topicName, required: true }, { name: 'name', label: M.topicId, required: true, hint: fmt(M.topicIdHint, { parent: parent.sip }) }],
    });
    if (!v || !v.dn || !v.name) return;
    const name = v.name.replace(/[\s?~]/g, '-');
    await change(() => this.model.request({ mt: 'WriteTopic', sip: parent.sip + '?' + name, dn: v.dn }), () => this.#topicsChanged(), true);
  }

  async #renameTopic(t) {
    const v = await formDialog({ title: M.rename, ok: M.save, fields: [{ name: 'dn', label: M.topicName, value: t.dn, required: true }] });
    if (v && v.dn) await change(() => this.model.request({ mt: 'WriteTopic', id: t.id, sip: t.sip, dn: v.dn }), () => this.#topicsChanged());
  }

  async #deleteTopic(t) {
    const ok = await confirmDialog({ title: M.deleteTopic, text: fmt(M.deleteTopicText, { name: t.dn }), ok: M.delete, danger: true });
    if (ok) await change(() => this.model.request({ mt: 'WriteTopic', id: t.id, sip: t.sip }), () => this.#topicsChanged());
  }

  async #topicsChanged() {
    await this.model.topicsChanged();
    toast(M.done);
    this.#render();
  }

  dispose() {
    this.offs.forEach((off) => off());
  }
}
