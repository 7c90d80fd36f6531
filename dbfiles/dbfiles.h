#pragma once

#include "runtime/task.h"

class IDatabase;
class IIoMux;
class IInstanceLog;

// Every operation of the store is a task that is already started when it is
// returned, with the given UTask as its user. Its reports come on the loop,
// never from inside the call that started it or that asked for the next step.
// The user deletes the task after TaskComplete or TaskFailed (it may do so
// inside the callback), or while it waits for the user (after a progress
// report); deleting it while a statement of it is outstanding is fatal.

// Creates a file (or folder) and writes its content chunk by chunk.
// TaskProgress(0): the put is ready for the next Write. TaskComplete: the
// last chunk is stored and the size is written (a folder completes at once).
class IDbFilesPut : public ITask {
public:
    // The file's id, known from the first progress report on.
    virtual unsigned long long Get() = 0;
    virtual const char* GetName() = 0;
    // Only after a progress report. A call without data stores nothing; with
    // `last` the file's size becomes the total of all lengths written.
    virtual void Write(const unsigned char* data, unsigned int length, bool last) = 0;
};

// Reads a file chunk by chunk from an offset. TaskProgress(0): a chunk is
// ready for Get; Read asks for the next. TaskComplete: no further chunk.
class IDbFilesGet : public ITask {
public:
    // The chunk of the last report (or, for a get started without
    // finalByProgress, the final chunk at TaskComplete); empty when there is
    // none. Valid until the next Read or the task's deletion.
    virtual void Get(const unsigned char*& data, unsigned int& length) = 0;
    // Only after a progress report. With stop the get completes without
    // reading further, as it does after Stop().
    virtual void Read(bool stop) = 0;
};

// The rows of one folder. TaskProgress(0): a row is current; Next moves on.
// TaskComplete after the last row, or at the first Next after Stop().
class IDbFilesList : public ITask {
public:
    // False when there is no current row. `length` is the stored size.
    virtual bool Get(unsigned long long& id, const char*& name, unsigned int& length, bool& isFolder,
                     unsigned long long* created, unsigned long long* modified) = 0;
    virtual void Next() = 0;
};

// Resolves a slash-separated path from the root folder. TaskComplete when the
// last component was looked up or a component is missing; TaskFailed when a
// component before the last is a file, or on a database error.
class IDbFilesPathInfo : public ITask {
public:
    // The row of the last component; false when it (or a folder before it)
    // does not exist.
    virtual bool Get(unsigned long long& id, const char*& name, unsigned int& length, bool& isFolder,
                     unsigned long long* created, unsigned long long* modified) = 0;
    // Where resolution stopped: the last row resolved on the way (the root to
    // begin with), whether that row is a folder, and the part of the path
    // that was not resolved through it.
    virtual void GetFailed(unsigned long long& folder, bool& isFolder, const char*& path) = 0;
};

// Files and their content kept in the instance database. Used only after the
// task returned by Start has completed; tasks must be deleted before the store.
class IDbFiles {
public:
    virtual ~IDbFiles() {}
    // Creates and repairs the tables and prepares the statements. A null
    // folder definition means the store keeps its own folder tree; otherwise
    // it is the definition of the `folder` column, a reference into one of
    // the caller's tables that must contain "ON DELETE CASCADE".
    virtual ITask* Start(UTask* user, IDatabase* database, const char* folderDefinition) = 0;
    virtual IDbFilesPut* Put(UTask* user, const char* name, unsigned long long folder, bool isFolder) = 0;
    // finalByProgress: the final chunk is reported like every other and the
    // get completes at the Read after it; without it the final chunk is held
    // back for TaskComplete, so the reader knows which chunk is the last.
    virtual IDbFilesGet* Get(UTask* user, unsigned long long id, unsigned int offset, bool finalByProgress) = 0;
    virtual ITask* Del(UTask* user, unsigned long long id) = 0;
    virtual ITask* Move(UTask* user, unsigned long long id, const char* name, unsigned long long folder) = 0;
    // limit 0: no limit.
    virtual IDbFilesList* List(UTask* user, unsigned long long folder, unsigned long long limit) = 0;
    virtual IDbFilesPathInfo* PathInfo(UTask* user, const char* path) = 0;
};

class IDbFilesProvider {
public:
    virtual ~IDbFilesProvider() {}
    // key: 32 bytes for AES-256-GCM on every chunk written, or null.
    virtual IDbFiles* CreateDbFiles(IIoMux* iomux, IInstanceLog* log, const unsigned char* key) = 0;
};

IDbFilesProvider* CreateDbFilesProvider();
