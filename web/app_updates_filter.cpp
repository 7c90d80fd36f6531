#include "web/app_updates_filter.h"

#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include "runtime/assert.h"
#include "web/app_updates.h"
#include "web/app_updates_session.h"

AppUpdatesUser::AppUpdatesUser(const char* name) : name(strdup(name)) {}

AppUpdatesUser::~AppUpdatesUser()
{
    free(name);
}

int AppUpdatesUser::btree_compare(void* key)
{
    return strcasecmp(static_cast<const char*>(key), name);
}

int AppUpdatesUser::btree_compare(btree* other)
{
    return strcasecmp(static_cast<AppUpdatesUser*>(other)->name, name);
}

AppUpdatesFilters::~AppUpdatesFilters()
{
    ASSERT(filters.empty() && !users, "AppUpdatesFilters deleted with filters or users");
}

AppUpdatesFilterY* AppUpdatesFilters::First() const
{
    return static_cast<AppUpdatesFilterY*>(filters.front());
}

AppUpdatesUser* AppUpdatesFilters::FindUser(const char* name) const
{
    return static_cast<AppUpdatesUser*>(btree::btree_find(users, const_cast<char*>(name)));
}

void AppUpdatesFilters::Vacate(size_t slot)
{
    slots[slot].filter = nullptr;
    vacant++;
    CompactIfSparse();
}

void AppUpdatesFilters::ScanEnded()
{
    scanning = false;
    CompactIfSparse();
}

void AppUpdatesFilters::CompactIfSparse()
{
    if (vacant < 64 || vacant * 2 < slots.size() || scanning) return;
    size_t kept = 0;
    for (const Slot& s : slots) {
        if (!s.filter) continue;
        s.filter->slot = kept;
        slots[kept++] = s;
    }
    slots.resize(kept);
    vacant = 0;
}

AppUpdatesUser* AppUpdatesFilters::TakeUser(const char* name)
{
    AppUpdatesUser* user = FindUser(name);
    if (!user) {
        user = new AppUpdatesUser(name);
        users = btree::btree_put(users, user);
    }
    user->references++;
    return user;
}

void AppUpdatesFilters::ReleaseUser(AppUpdatesUser* user)
{
    ASSERT(user->references, "AppUpdatesUser released too often");
    if (--user->references) return;
    ASSERT(!user->first, "AppUpdatesUser without references still has a filter");
    users = btree::btree_get(users, user);
    delete user;
}

AppUpdatesFilterY::AppUpdatesFilterY(AppUpdatesFilters* group, AppUpdatesSession* session, const char* name,
                                     const char* user)
    : name(name ? strdup(name) : nullptr), group(group), session(session), updates(session ? session->updates : nullptr)
{
    ASSERT(group && session, "AppUpdatesFilterY without group or session");
    // A client that sends its filter again with the same "src" replaces it.
    if (name) delete session->AppFilterGet(group, name);
    session->filters = btree::btree_put(session->filters, this);
    Register(user);
}

void AppUpdatesFilterY::Register(const char* userName)
{
    slot = group->slots.size();
    group->slots.push_back({this, 0});
    if (!userName) {
        group->filters.push_back(this);
        return;
    }
    user = group->TakeUser(userName);
    if (user->first) {
        // Newest first, so the user's block stays contiguous.
        group->filters.insert_after(user->first->goPrevious(), this);
    }
    else {
        group->filters.push_back(this);
    }
    user->first = this;
}

AppUpdatesFilterY::AppUpdatesFilterY(const AppUpdatesFilterY* place)
    : name(nullptr), group(place->group), session(nullptr), updates(place->updates)
{
    if (place->user) user = group->TakeUser(place->user->Name());
    auto* taken = const_cast<AppUpdatesFilterY*>(place);
    group->filters.insert_after(taken, this);
    // Where the place stood for updates of the whole group, this filter
    // stands now: an update being handed out reaches it if it has not yet
    // reached the place, whose session takes none.
    ASSERT(!place->session || !place->session->ReceivesUpdates(), "AppUpdatesFilterY in the place of a live filter");
    slot = place->slot;
    taken->slot = NO_SLOT;
    if (slot != NO_SLOT) group->slots[slot] = {this, 0};
}

void AppUpdatesFilterY::GateChanged()
{
    if (slot != NO_SLOT) group->slots[slot].gate = 0;
}

std::vector<AppUpdate*> AppUpdatesFilterY::QueuedUpdates() const
{
    std::vector<AppUpdate*> updates;
    for (istd::listElement* link = queued.front(); link; link = link->goNext())
        updates.push_back(AppUpdatesQueued::OfFilterLink(link)->Update());
    return updates;
}

AppUpdatesFilterY::~AppUpdatesFilterY()
{
    while (!queued.empty()) delete AppUpdatesQueued::OfFilterLink(queued.front());
    updates->FilterGone(this);
    if (user) {
        if (user->first == this) {
            AppUpdatesFilterY* next = Next();
            user->first = next && next->user == user ? next : nullptr;
        }
        group->ReleaseUser(user);
    }
    group->filters.remove(this);
    if (slot != NO_SLOT) group->Vacate(slot);
    if (session) session->filters = btree::btree_get(session->filters, this);
    free(name);
}

namespace {

int CompareNames(const char* a, const char* b)
{
    if (!a || !b) return (a != nullptr) - (b != nullptr);
    return strcmp(a, b);
}

template <class P>
int ComparePointers(const P* a, const P* b)
{
    return (uintptr_t)a < (uintptr_t)b ? -1 : (uintptr_t)a > (uintptr_t)b;
}

}  // namespace

int AppUpdatesFilterY::btree_compare(void* key)
{
    const Key* k = static_cast<const Key*>(key);
    int c = CompareNames(k->name, name);
    return c ? c : ComparePointers(k->group, group);
}

int AppUpdatesFilterY::btree_compare(btree* other)
{
    AppUpdatesFilterY* o = static_cast<AppUpdatesFilterY*>(other);
    int c = CompareNames(o->name, name);
    if (!c) c = ComparePointers(o->group, group);
    // Unnamed filters of one group are all kept: the tree holds every filter
    // of the session, for its deletion.
    if (!c && !name) c = ComparePointers(o, this);
    return c;
}
