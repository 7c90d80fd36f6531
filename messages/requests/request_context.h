#pragma once

class AppUpdates;
class AppUpdatesSession;
class IDatabase;
class IIoMux;
class MessagesCommon;
class MessagesRequest;
class MessagesUser;
class json_io;

// What a request reaches of its session and instance: the way back to the
// client, the database, the user, and the update hub. The session implements
// it; a request never reaches further.
class MessagesRequestContext {
public:
    virtual ~MessagesRequestContext() {}

    // Sends one message of the request (a row or the reply); each yields one
    // MessagesRequest::ResponseSent once it has left.
    virtual void RequestSend(json_io& msg) = 0;
    virtual unsigned RequestResponsesInFlight() const = 0;
    // The request has ended: the context deletes it and takes the next
    // message. Called from the request's own deferred call only.
    virtual void RequestEnded(MessagesRequest* request) = 0;
    virtual bool RequestSessionClosed() const = 0;

    // The instance's database while it is connected and its schema is
    // complete; null otherwise, and then requests fail at once.
    virtual IDatabase* RequestDatabase() const = 0;
    // For a single statement outside any transaction, which needs no order
    // with other sessions' commands: possibly another connection.
    virtual IDatabase* RequestReadDatabase() const { return RequestDatabase(); }
    virtual MessagesUser* RequestUser() = 0;
    // The filter groups that updates go to, and the hub that distributes them.
    virtual MessagesCommon* RequestCommon() = 0;
    virtual AppUpdates* RequestUpdates() = 0;
    // The session as the owner of update filters.
    virtual AppUpdatesSession* RequestUpdatesSession() = 0;
    virtual IIoMux* RequestIoMux() = 0;

    // The "src" of the message being handled, or null.
    virtual const char* RequestSrc() const = 0;
    // The session number of the update distribution and the session key,
    // which "PostResult" and "UpdateResult" carry.
    virtual unsigned long long RequestSessionNumber() const = 0;
    virtual unsigned long long RequestKey() const = 0;
};
