#include "messages/messages_readers.h"

#include "runtime/instance_log.h"

MessagesReader::~MessagesReader()
{
    delete db;
}

void MessagesReader::Connect()
{
    ready = false;
    db = pool->CreateConnected(this);
}

void MessagesReader::Shutdown()
{
    retry.Cancel();
    if (db) db->Shutdown();
}

void MessagesReader::DatabaseConnectComplete(IDatabase*)
{
    ready = true;
    backoff.Reset();
}

void MessagesReader::DatabaseShutdown(IDatabase* lost, db_error_t error)
{
    // The database has failed every command queued on it; nobody waits for it.
    if (lost != db) return;
    delete db;
    db = nullptr;
    ready = false;
    if (pool->stopping) return pool->ReaderGone();
    unsigned delay = backoff.Next();
    pool->log->Log(LOG_DATABASE, "Messages reader connection lost (error %d), next attempt in %u ms", (int)error, delay);
    retry.Start(delay);
}

void MessagesReader::TimerOnTimeout(ITimer*)
{
    if (!db && !pool->stopping) Connect();
}

MessagesReaders::~MessagesReaders()
{
    for (MessagesReader* r : readers) delete r;
}

void MessagesReaders::Start(unsigned count, const char* host, const char* name, const char* user, const char* password)
{
    if (stopping || !readers.empty()) return;
    this->host = host;
    this->name = name;
    this->user = user;
    this->password = password;
    for (unsigned i = 0; i < count; i++) {
        readers.push_back(new MessagesReader(this, iomux));
        readers.back()->Connect();
    }
}

IDatabase* MessagesReaders::CreateConnected(MessagesReader* reader)
{
    IDatabase* db = provider->CreateDatabase(iomux, reader, log);
    db->Connect(host, name, user, password);
    return db;
}

void MessagesReaders::Stop()
{
    if (stopping) return;
    stopping = true;
    for (MessagesReader* r : readers) r->Shutdown();
}

bool MessagesReaders::Stopped() const
{
    for (MessagesReader* r : readers)
        if (!r->Gone()) return false;
    return true;
}

void MessagesReaders::ReaderGone()
{
    if (Stopped()) owner->ReadersStopped();
}

IDatabase* MessagesReaders::Pick()
{
    for (size_t tried = 0; tried < readers.size(); tried++) {
        IDatabase* db = readers[next++ % readers.size()]->Usable();
        if (db) return db;
    }
    return nullptr;
}
