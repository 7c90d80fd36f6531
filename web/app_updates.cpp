#include "web/app_updates.h"

#include <stddef.h>

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
    resuming = false;
    while (!fifo.empty()) {
        AppUpdate* update = static_cast<AppUpdate*>(fifo.front());
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
    AppUpdatesUser* user = update->user;
    if (!resuming) {
        cursor = user ? user->First() : update->group->First();
        gate = update->Gate();
        resuming = true;
    }
    for (unsigned taken = 0, tested = 0; cursor && taken < FILTERS_PER_CALL && tested < TESTS_PER_CALL; tested++) {
        AppUpdatesFilterY* filter = cursor;
        // The user's filters are one block; the next user's begin after it.
        if (user && filter->User() != user) {
            cursor = nullptr;
            break;
        }
        // Moved on first: Send may delete this filter or others.
        cursor = filter->Next();
        if (user && cursor && cursor->User() != user) cursor = nullptr;
        if (!(filter->Gate() & gate)) continue;
        AppUpdatesSession* session = filter->Session();
        if (session && !session->ReceivesUpdates()) continue;
        if (!filter->Test(update)) continue;
        taken++;
        if (!session || !session->updatePending) filter->Send(update);
        else if (session->QueuedCount() < AppUpdatesSession::MAX_QUEUED) new AppUpdatesQueued(update, filter);
        else session->QueueOverflow();
    }
    if (cursor) {
        iomux->SetExec(this, nullptr);
        return;
    }
    Finish(update);
    if (!fifo.empty()) iomux->SetExec(this, nullptr);
}

void AppUpdates::Finish(AppUpdate* update)
{
    fifo.remove(update);
    resuming = false;
    if (!update->queued) delete update;
}
