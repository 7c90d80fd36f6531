#pragma once

#include <stddef.h>

#include <string>
#include <vector>

#include "runtime/btree.h"
#include "web/extended_header.h"
#include "web/webserver_types.h"
#include "web/ws_frame.h"

class WebserverPlugin;

// What the link took from a request's extended header; the handler keeps
// its own copy because the link reuses its receive buffer.
struct WebserverRequestInfo {
    std::string resourceName;
    // Relative to the link's web root.
    std::string registeredPath;
    std::string etag;
    std::string host;
    std::string headerFields;
    connection_flags_t connectionFlags = 0;
    unsigned long long dataSize = 0;
    std::vector<HTTPRange> ranges;
};

// One request or websocket multiplexed on the link under its connection id.
// The link creates it, offers it to an owner, and feeds it the messages for
// its id; the owner streams through the request interface the subclass
// implements. The owner deletes it in its close-complete callback, which is
// always the last thing the handler does.
class WebserverMessageHandler : public btree {
public:
    // OFFERED: inside the listen callback. ACCEPTED: bound to an owner.
    // CLOSING: the plugin's side has ended (close, cancel). CLOSED: the
    // webserver's side has ended too, or the link is gone.
    enum State { OFFERED, ACCEPTED, CLOSING, CLOSED };

    WebserverMessageHandler(WebserverPlugin* link, const char* name, unsigned connectionId, unsigned requestType,
                            WebserverRequestInfo info, bool wide);
    ~WebserverMessageHandler() override;

    int btree_compare(void* key) override;
    int btree_compare(btree* other) override;

    unsigned ConnectionId() const { return connectionId; }
    // A ws_request_type_t bit, or 0 for a websocket.
    unsigned RequestType() const { return requestType; }
    const char* Name() const { return name; }
    State GetState() const { return state; }
    const WebserverRequestInfo& Info() const { return info; }

    // For the link.
    void Accepted();
    void Dropped();
    // Where the link should read this message's body straight into, or null
    // for the link's own buffer.
    virtual void* BodyBuffer(const WsFrame& frame);
    virtual void HandleMessage(const WsFrame& frame, void* body);
    // The link is gone: a pending receive is handed back, then the owner
    // hears that the request is closed.
    virtual void WebserverPluginWillClose();
    virtual void AcceptComplete() = 0;
    virtual bool IsWebdavHandler() const { return false; }

    // Common request operations; the subclasses forward their interface to these.
    virtual const char* GetHeaderFieldValue(const char* name);
    virtual void SetHeaderField(const char* name, const char* value);
    void Send(const void* data, size_t len);
    virtual void Recv(void* buffer, size_t size);
    virtual void Cancel(wsr_cancel_type_t reason);
    virtual void Close();
    void SetTransferInfo(wsr_type_t type, unsigned long long dataSize, wsr_flags_t flags, const char* etag);
    void ForceDownloadResponse(const char* fileName);

protected:
    // The owner's callbacks.
    virtual void SendResult() = 0;
    virtual void* RecvBuffer(size_t len) = 0;
    virtual void RecvResult(void* buffer, size_t len) = 0;
    virtual void RecvCanceled(void* buffer) = 0;
    virtual void CloseComplete() = 0;

    // Pass-through answers are raw bytes without meta data.
    virtual bool SendsMetaData() const { return true; }
    // The general purpose of the meta data message; may add items.
    virtual unsigned PrepareMetaData() { return 0; }
    // Tells the webserver that the plugin's side has ended.
    virtual void SendEnd();

    void SetState(State next);
    void SendFrame(unsigned type, unsigned generalPurpose, const void* data, size_t len);
    void FlushMetaData();
    // Takes the pending receive; returns its buffer.
    void* TakeReceive();
    // The webserver's side has ended: leave the link, hand a pending receive back.
    void LeaveLink();
    void Log(const char* fmt, ...) __attribute__((format(printf, 2, 3)));

    WebserverPlugin* link;
    const char* name;
    unsigned connectionId;
    unsigned requestType;
    State state = OFFERED;
    WebserverRequestInfo info;
    // Request header fields split into names and values, pointing into info.headerFields.
    std::vector<const char*> fieldNames;
    std::vector<const char*> fieldValues;

    ExtendedHeader meta;
    std::string responseFields;
    bool metaSent = false;
    bool endSent = false;
    unsigned sendsUnconfirmed = 0;

    void* recvBuffer = nullptr;
    size_t recvSize = 0;
    bool recvPending = false;

private:
    friend class WebserverPlugin;
    void SetFieldList();

    // Answered by the link itself (a static file); the link frees it if it goes first.
    bool ownedByLink = false;
};
