#include "web/app_updates.h"

#include <stddef.h>

#include <algorithm>

#include "runtime/assert.h"
#include "web/app_updates_filter.h"
#include "web/app_updates_session.h"

AppUpdate::AppUpdate(AppUpdatesFilters* group, const char* user) : group(group)
{
    ASSERT(group, "AppUpdate without group");
    if (user) this->user = group->TakeUser(user);
}

AppUpdate::~AppUpdate()
{
    ASSERT(!queued && !getList(), "AppUpdate deleted while queued or distributed");
    if (user) group->ReleaseUser(user);
}

AppUpdatesQueued::AppUpdatesQueued(AppUpdate* update, AppUpdatesFilterY* filter)
    : update(update), filter(filter), filterLink(this)
{
    update->queued++;
    filter->queued.push_back(&filterLink);
    filter->Session()->queue.push_back(this);
}

AppUpdatesQueued::~AppUpdatesQueued()
{
    remove();
    filterLink.remove();
    // Out of the FIFO means every filter has seen it; this was its last user.
    if (--update->queued == 0 && !update->getList()) delete update;
}

AppUpdatesQueued* AppUpdatesQueued::OfFilterLink(istd::listElement* link)
{
    return static_cast<FilterLink*>(link)->entry;
}

void AppUpdatesQueued::DetachFilter()
{
    filterLink.remove();
}

AppUpdates::AppUpdates(IIoMux* iomux) : iomux(iomux) {}

AppUpdates::~AppUpdates()
{
    ASSERT(sessions.empty(), "AppUpdates deleted with sessions");
    DropPending();
}

void AppUpdates::DropPending()
{
    iomux->CancelSetExec(this);
    cursor = nullptr;
    while (!fifo.empty()) {
        AppUpdate* update = static_cast<AppUpdate*>(fifo.front());
        if (resuming && !update->user) update->group->ScanEnded();
        resuming = false;
        fifo.remove(update);
        delete update;
    }
}

void AppUpdates::StartUpdate(AppUpdate* update)
{
    ASSERT(!update->getList(), "AppUpdate started twice");
    bool idle = fifo.empty();
    fifo.push_back(update);
    if (idle) iomux->SetExec(this, nullptr);
}

void AppUpdates::FilterGone(AppUpdatesFilterY* filter)
{
    if (cursor == filter) cursor = filter->Next();
}

void AppUpdates::IoExec(void*)
{
    AppUpdate* update = static_cast<AppUpdate*>(fifo.front());
    if (!update) return;
    if (!resuming) {
        gate = update->Gate();
        resuming = true;
        if (update->user) cursor = update->user->First();
        else {
            scan = 0;
            update->group->scanning = true;
        }
    }
    if (update->user ? PassUser(update) : PassGroup(update)) {
        iomux->SetExec(this, nullptr);
        return;
    }
    Finish(update);
    if (!fifo.empty()) iomux->SetExec(this, nullptr);
}

bool AppUpdates::PassUser(AppUpdate* update)
{
    AppUpdatesUser* user = update->user;
    for (unsigned taken = 0, tested = 0; cursor && taken < FILTERS_PER_CALL && tested < TESTS_PER_CALL; tested++) {
        AppUpdatesFilterY* filter = cursor;
        // The user's filters are one block; the next user's begin after it.
        if (filter->User() != user) return false;
        // Moved on first: Send may delete this filter or others.
        cursor = filter->Next();
        if (cursor && cursor->User() != user) cursor = nullptr;
        if ((filter->Gate() & gate) && Offer(filter, update)) taken++;
    }
    return cursor != nullptr;
}

bool AppUpdates::PassGroup(AppUpdate* update)
{
    // Indexes, not references: Send may add filters, and the array grows.
    AppUpdatesFilters* group = update->group;
    unsigned taken = 0, tested = 0;
    for (size_t end = std::min(group->slots.size(), scan + SLOTS_PER_CALL);
         scan < end && taken < FILTERS_PER_CALL && tested < TESTS_PER_CALL; scan++) {
        AppUpdatesFilters::Slot& slot = group->slots[scan];
        if (!slot.filter) continue;
        if (!slot.gate) slot.gate = slot.filter->Gate();
        if (!(slot.gate & gate)) continue;
        tested++;
        if (Offer(slot.filter, update)) taken++;
    }
    return scan < group->slots.size();
}

bool AppUpdates::Offer(AppUpdatesFilterY* filter, AppUpdate* update)
{
    AppUpdatesSession* session = filter->Session();
    if (session && !session->ReceivesUpdates()) return false;
    if (!filter->Test(update)) return false;
    if (!session || !session->updatePending) filter->Send(update);
    else if (session->QueuedCount() < AppUpdatesSession::MAX_QUEUED) new AppUpdatesQueued(update, filter);
    else session->QueueOverflow();
    return true;
}

void AppUpdates::Finish(AppUpdate* update)
{
    fifo.remove(update);
    if (resuming && !update->user) update->group->ScanEnded();
    resuming = false;
    if (!update->queued) delete update;
}
