#pragma once

#include <vector>

#include "database/database.h"
#include "database/reconnect_backoff.h"
#include "runtime/timer.h"

class IDatabaseProvider;
class IInstanceLog;
class IIoMux;
class MessagesReaders;

// Told once the last reader connection of a stopping pool has gone.
class UMessagesReaders {
public:
    virtual ~UMessagesReaders() {}
    virtual void ReadersStopped() = 0;
};

// One further connection to the instance's database, for reads outside any
// transaction. It reaches the database again by itself after a loss.
class MessagesReader : public UDatabase, public UTimer {
public:
    MessagesReader(MessagesReaders* pool, IIoMux* iomux) : pool(pool), retry(iomux, this) {}
    ~MessagesReader() override;
    void Connect();
    void Shutdown();
    // The connection while it is up, else null.
    IDatabase* Usable() const { return ready ? db : nullptr; }
    bool Gone() const { return !db; }

private:
    void DatabaseConnectComplete(IDatabase* db) override;
    void DatabaseShutdown(IDatabase* db, db_error_t error) override;
    // The owner hears errors of its own commands only, and sends none.
    void DatabaseError(IDatabase*, db_error_t) override {}
    void TimerOnTimeout(ITimer* timer) override;

    MessagesReaders* pool;
    IDatabase* db = nullptr;
    bool ready = false;
    ITimer retry;
    ReconnectBackoff backoff;
};

// The reader connections of an instance. The one connection that writes runs
// its commands strictly one after the other, and a command waits for the
// service to take the previous result before it is sent: a discussion page
// or an unread count, which need no order with other sessions' commands, run
// on these instead, side by side.
class MessagesReaders {
public:
    MessagesReaders(IIoMux* iomux, IDatabaseProvider* provider, IInstanceLog* log, UMessagesReaders* owner)
        : iomux(iomux), provider(provider), log(log), owner(owner)
    {
    }
    ~MessagesReaders();
    // Connects `count` readers with these credentials, which must outlive the pool.
    void Start(unsigned count, const char* host, const char* name, const char* user, const char* password);
    // Shuts every reader down; ReadersStopped follows, on a later pass, once
    // the last that was still there has gone.
    void Stop();
    bool Stopped() const;
    // A reader that is up, in turn; null when none is.
    IDatabase* Pick();

private:
    friend class MessagesReader;
    IDatabase* CreateConnected(MessagesReader* reader);
    void ReaderGone();

    IIoMux* iomux;
    IDatabaseProvider* provider;
    IInstanceLog* log;
    UMessagesReaders* owner;
    const char *host = nullptr, *name = nullptr, *user = nullptr, *password = nullptr;
    std::vector<MessagesReader*> readers;
    size_t next = 0;
    bool stopping = false;
};
