#pragma once

#include "runtime/btree.h"
#include "web/webserver_types.h"

// Content stored gzip-compressed: served with the gzip transfer flag.
const unsigned HTTPFILE_GZIP = 0x200;
// Kept in the table but never served.
const unsigned HTTPFILE_HIDDEN = 0x400;

// One file compiled into the program; the build generates the table.
struct httpfile {
    const char* name;
    unsigned flags;
    const unsigned char* content;
    unsigned length;
};

// A file of the table with what serving it needs, computed once.
class HttpFile : public btree {
public:
    explicit HttpFile(const httpfile* file);
    int btree_compare(void* key) override;
    int btree_compare(btree* other) override;

    const char* Name() const { return file->name; }
    bool Gzip() const { return (file->flags & HTTPFILE_GZIP) != 0; }
    bool Hidden() const { return (file->flags & HTTPFILE_HIDDEN) != 0; }
    const unsigned char* Content() const { return file->content; }
    unsigned Length() const { return file->length; }
    // MD5 of the stored bytes (compressed ones when compressed), 32 lower-case hex digits.
    const char* ETag() const { return etag; }
    wsr_type_t Type() const { return type; }

private:
    const httpfile* file;
    char etag[33];
    wsr_type_t type;
};

// The process-wide ordered table of static files.
class HttpFiles {
public:
    // A name registered again replaces the earlier entry, with a warning.
    static void Register(const httpfile* files, unsigned count);
    // The web client compiled into this program; later calls do nothing.
    static void RegisterBuiltIn();
    static const HttpFile* Find(const char* name);
    static bool AnyStartsWith(const char* prefix);
    // By the name's suffix; an unknown one is logged and served as text.
    static wsr_type_t ContentType(const char* name);
};
