#pragma once

class MessageFilter;
class MessagesUser;
class json_io;

// Fills filter from the JSON filter object at index base of json, for the
// session user user. Topics the user may not see are dropped; a filter object
// without topics, or base json_io::NONE for a missing object, is limited to
// all of the user's topics except the personal one. Malformed members are
// skipped: client input never fails here.
void jsonFilter(MessageFilter* filter, json_io& json, unsigned short base, const MessagesUser* user);
