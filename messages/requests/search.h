#pragma once

#include "messages/requests/read.h"

class json_io;
class MessagesSession;

// "Search": the messages the user may read whose text matches the words of
// "text", newest first, a page of "count" at a time, as "Add" rows; then
// "SearchResult" with "count", the number of rows of the page. A page
// shorter than asked for is the last; the next one starts below the "id" of
// the last row, sent as "more".
class Search : public MessagesReadRequest {
public:
    using MessagesReadRequest::MessagesReadRequest;

private:
    void ReplyMembers(MessagesReply& reply) override;
};

MessagesRequest* CreateSearch(MessagesSession& session, json_io& msg, unsigned short base);
