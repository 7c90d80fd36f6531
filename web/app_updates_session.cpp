#include "web/app_updates_session.h"

#include <vector>

#include "runtime/assert.h"
#include "runtime/instance_log.h"
#include "web/app_updates.h"
#include "web/app_updates_filter.h"

AppUpdatesSession::AppUpdatesSession(AppUpdates* updates, IWebserverPlugin* plugin, IInstanceLog* log,
                                     JsonApiContext* jsonApiContext)
    : AppWebsocket(plugin, log, jsonApiContext), updates(updates), sessionId(updates->nextSessionId++)
{
    updates->sessions.push_back(this);
}

AppUpdatesSession::~AppUpdatesSession()
{
    while (filters) delete static_cast<AppUpdatesFilterY*>(filters);
    ASSERT(queue.empty(), "AppUpdatesSession queue holds entries of another session's filter");
}

void AppUpdatesSession::SendResponse(json_io& msg, char* buffer)
{
    responsePending = true;
    responsesInFlight++;
    AppWebsocketMessageSend(msg, buffer);
}

void AppUpdatesSession::SendResponse(json_io& msg)
{
    std::vector<char> buffer(EncodedBound(msg, 0));
    SendResponse(msg, buffer.data());
}

void AppUpdatesSession::SendUpdate(json_io& msg, char* buffer)
{
    updatePending = true;
    AppWebsocketMessageSend(msg, buffer);
}

AppUpdatesFilterY* AppUpdatesSession::AppFilterGet(AppUpdatesFilters* group, const char* name) const
{
    if (!name) return nullptr;
    AppUpdatesFilterY::Key key = {name, group};
    return static_cast<AppUpdatesFilterY*>(btree::btree_find(filters, &key));
}

void AppUpdatesSession::AppFilterClose(AppUpdatesFilters* group, const char* name)
{
    delete AppFilterGet(group, name);
}

void AppUpdatesSession::QueueOverflow()
{
    overflowed = true;
    if (log) log->Log(LOG_APP_WEBSOCKET, "Session %llu does not read its updates: %u queued, websocket closed", sessionId,
                      queue.size());
    while (!queue.empty()) delete static_cast<AppUpdatesQueued*>(queue.front());
    AppWebsocketClose();
}

void AppUpdatesSession::AppWebsocketSendResult()
{
    // Results carry no identity. Crediting responses first lets the request
    // go on and holds the queued updates back until its replies are through.
    if (responsesInFlight) {
        if (--responsesInFlight == 0) responsePending = false;
        ResponseSent();
        return;
    }
    if (!updatePending) return;
    updatePending = false;
    UpdateSent();
}

void AppUpdatesSession::UpdateSent()
{
    // A filter may decline to send; then the next entry goes at once rather
    // than wait for a result that will not come.
    while (!updatePending && !queue.empty()) {
        AppUpdatesQueued* entry = static_cast<AppUpdatesQueued*>(queue.front());
        queue.remove(entry);
        entry->DetachFilter();
        entry->Filter()->Send(entry->Update());
        delete entry;
    }
}
