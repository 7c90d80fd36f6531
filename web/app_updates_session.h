#pragma once

#include "runtime/btree.h"
#include "runtime/istd_list.h"
#include "web/app_websocket.h"

class AppUpdates;
class AppUpdatesFilterY;
class AppUpdatesFilters;

// An app websocket that receives updates. It keeps one update in flight:
// while the websocket has not confirmed the last one, further updates for
// its filters wait in its own queue, so a slow reader holds up nobody else.
// Send results are matched to responses first; queued updates go out only
// once no response is in flight.
class AppUpdatesSession : public AppWebsocket, public istd::listElement {
public:
    // The queue only grows once the socket buffers in front of it (from
    // hundreds of kilobytes to megabytes) are full, so a client this far
    // behind has stopped reading; a burst of a few hundred posts in a busy
    // topic still fits. An
    // entry is a few dozen bytes (the update itself is shared), so thousands
    // of stuck sessions hold some tens of megabytes at most. At the bound the
    // session is closed: a client that reconnects reads afresh, where dropped
    // updates would leave it showing a wrong view.
    static const unsigned MAX_QUEUED = 512;

    AppUpdatesSession(AppUpdates* updates, IWebserverPlugin* plugin, IInstanceLog* log,
                      JsonApiContext* jsonApiContext);
    // Deletes the session's filters, which discards its queue.
    ~AppUpdatesSession() override;

    // A reply to the client's request; ResponseSent follows its send result.
    void SendResponse(json_io& msg, char* buffer);
    // The same in a buffer sized for the document.
    void SendResponse(json_io& msg);
    // For filters: one update, which occupies the session until confirmed.
    void SendUpdate(json_io& msg, char* buffer);
    // Null for a null name.
    AppUpdatesFilterY* AppFilterGet(AppUpdatesFilters* group, const char* name) const;
    void AppFilterClose(AppUpdatesFilters* group, const char* name);

    void AppWebsocketSendResult() final;
    // A response has been confirmed. The callee may send, and may close the
    // websocket, but must not delete the session.
    virtual void ResponseSent() {}
    // The update in flight has been confirmed: the default sends the next
    // queued one. An override that does not call it leaves the queue waiting.
    virtual void UpdateSent();

    unsigned long long SessionId() const { return sessionId; }
    AppUpdates* Updates() const { return updates; }
    bool UpdatePending() const { return updatePending; }
    bool ResponsePending() const { return responsePending; }
    unsigned ResponsesInFlight() const { return responsesInFlight; }
    unsigned QueuedCount() const { return queue.size(); }
    // Updates are not even tested for a session whose websocket is gone or
    // that overflowed: nothing could be sent, and a queue would only grow.
    bool ReceivesUpdates() const { return AppWebsocketSocket() != nullptr && !overflowed; }
    // Instead of queueing beyond MAX_QUEUED: the queue is discarded and the
    // websocket closed.
    void QueueOverflow();

private:
    friend class AppUpdatesFilterY;
    friend class AppUpdatesQueued;
    friend class AppUpdates;

    AppUpdates* updates;
    unsigned long long sessionId;
    btree* filters = nullptr;
    istd::list queue;
    bool updatePending = false;
    bool responsePending = false;
    bool overflowed = false;
    unsigned responsesInFlight = 0;
};
