#pragma once

#include <string>

#include "web/webserver_types.h"

// What an HTTP request under the instance's web path asks for, read from its
// method and its resource (path and query, relative to the web path). Pure:
// the caller checks the session and whether the database is there.
struct MessagesFileRoute {
    enum Kind {
        // Malformed, unknown, or a method we do not serve: not found.
        REFUSED,
        OPTIONS,
        // Any other GET: the static files, through the link's redirect.
        STATIC,
        // "/buffer/ID/KEY/NAME": id, key, name (as they stand).
        BUFFER_GET,
        BUFFER_POST,
        // "/files/ID/PATH?session=&usersession=&key=": id, name (the decoded path).
        FILE_GET,
        // "?msg-id=&session=&key=&file-name=": message, name (decoded).
        FILE_POST,
        // "?msg-id=&session=&key=&del=": message, id (the file to delete).
        FILE_DEL,
    };

    Kind kind = REFUSED;
    unsigned long long id = 0;
    unsigned long long message = 0;
    std::string key;
    std::string name;
    // The session check's arguments.
    unsigned long long session = 0;
    unsigned long long userSession = 0;
    unsigned long long sessionKey = 0;
};

// The stored names of files and buffers hold at most this many characters.
const unsigned MESSAGES_FILE_NAME_MAX = 256;
// A buffer key in a path is at most this long; ours are 16 characters.
const unsigned MESSAGES_BUFFER_KEY_MAX = 63;

MessagesFileRoute MessagesRouteRequest(ws_request_type_t type, const char* resource);
