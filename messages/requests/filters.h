#pragma once

#include "messages/requests/row_requests.h"

class IDataSet;
class MessagesReply;
class MessagesSession;
class MessagesTaskRows;
class MessagesTaskWrite;
class json_io;

// Saved filters of a user and tag names: "ReadFilters", "WriteFilter", "ReadTags".

// The requests for these messages, made from the message at index base of
// msg for the session (null: nothing to do, no reply).
MessagesRequest* CreateReadFilters(MessagesSession& session, json_io& msg, unsigned short base);
MessagesRequest* CreateWriteFilter(MessagesSession& session, json_io& msg, unsigned short base);
MessagesRequest* CreateReadTags(MessagesSession& session, json_io& msg, unsigned short base);

// "ReadFilters": one "Filter" per saved filter of the user, in the user's order.
class ReadFilters : public ReadRows {
public:
    ReadFilters(MessagesRequestContext* context, MessagesTaskRows* rows)
        : ReadRows(context, rows, "Filter", "ReadFiltersResult")
    {
    }

private:
    void Describe(IDataSet* row, MessagesReply& out) override;
};

// "WriteFilter": creates, replaces, moves to the end or deletes a saved filter.
class WriteFilter : public WriteRow {
public:
    WriteFilter(MessagesRequestContext* context, MessagesTaskWrite* write, bool refused)
        : WriteRow(context, write, refused, "WriteFilterResult", true)
    {
    }
};

// "ReadTags": one "Tag" per tag name of a page, newest first.
class ReadTags : public ReadRows {
public:
    ReadTags(MessagesRequestContext* context, MessagesTaskRows* rows) : ReadRows(context, rows, "Tag", "ReadTagsResult")
    {
    }

private:
    void Describe(IDataSet* row, MessagesReply& out) override;
};
