#pragma once

#include <stddef.h>

// One JSON document in a fixed table of items, either built with add_* and
// encoded into the caller's buffer, or decoded in place from the caller's
// NUL-terminated text and read with get_*. Nothing is allocated and no
// string is copied: items point into the caller's text, literals and scratch
// space, which must outlive the object's use. Handlers keep one on the stack
// per message (about 72 KiB).
//
// Items are stored depth first in document order, so the children of a
// container c lie in c+1 .. c+count(c), and a base of NONE stands for the
// document level, whose only item is the top-level item at index 0.
class json_io {
public:
    // Item types. QUOTED only names type 3 in dump listings; nothing makes it.
    static constexpr unsigned char OBJECT = 0;
    static constexpr unsigned char ARRAY = 1;
    static constexpr unsigned char VALUE = 2;
    static constexpr unsigned char QUOTED = 3;
    // Any type, for get_first and the typed get_next.
    static constexpr unsigned char ANY = 255;

    // Item flags: a string value (written with quotes and escapes); a
    // container whose closing bracket has not been read.
    static constexpr unsigned char FLAG_QUOTED = 1;
    static constexpr unsigned char FLAG_OPEN = 2;

    // No item; as a base, the document level.
    static constexpr unsigned short NONE = 0xffff;
    static constexpr unsigned short CAPACITY = 3072;

    struct item {
        unsigned short count;  // container: size of the whole subtree; value: text length
        unsigned char type;
        unsigned char flags;
        unsigned short base;   // parent index, NONE for the top-level item
        const char* name;      // null for array elements and the top-level item
        const char* value;     // null for containers
    };

    explicit json_io(char* buffer) : buffer(buffer), used(0) {}
    void reset() { used = 0; }

    // Building. Each add appends the last child of base; only base NONE on an
    // empty table or a container whose subtree ends at the end of the table
    // is accepted, anything else (or a full table) adds nothing.
    unsigned short add_object(unsigned short base, const char* name);
    unsigned short add_array(unsigned short base, const char* name);
    void add_string(unsigned short base, const char* name, const char* value, unsigned short len = 0xffff);
    void add_string(unsigned short base, const char* name, const unsigned short* value, unsigned short len,
                    char*& tmp);
    void add_json(unsigned short base, const char* name, const char* json, unsigned short len = 0xffff);
    void add_int(unsigned short base, const char* name, int value, char*& tmp);
    void add_unsigned(unsigned short base, const char* name, unsigned value, char*& tmp);
    void add_long64(unsigned short base, const char* name, long long value, char*& tmp);
    void add_ulong64(unsigned short base, const char* name, unsigned long long value, char*& tmp);
    void add_double(unsigned short base, const char* name, double value, char*& tmp, unsigned char decimals);
    void add_printf(unsigned short base, const char* name, char*& tmp, const char* format, ...)
        __attribute__((format(printf, 5, 6)));
    void add_hexstring(unsigned short base, const char* name, const unsigned char* data, unsigned short len,
                       char*& tmp);
    void add_bool(unsigned short base, const char* name, bool value);
    void add_null(unsigned short base, const char* name);
    void add_replace_string(unsigned short base, const char* name, const char* value, unsigned short len = 0xffff);

    // Encoding: compact text, NUL-terminated unless the document is a single
    // unquoted value. No size check; the caller's buffer must be large enough.
    unsigned short encode();
    // Only start NONE (the whole subtree) is supported.
    void write(unsigned short id, char*& out, unsigned short start = NONE);
    static unsigned escape(const char* src, unsigned short len, char* dst);
    // What escape writes for the NUL-terminated src, without writing it.
    static size_t escaped_length(const char* src);
    static unsigned unescape(char* dst, const char* src);

    // Decoding of the buffer given at construction, in place.
    bool decode();

    // Lookups among the direct children of base, first match by name.
    unsigned short get_object(unsigned short base, const char* name) const;
    unsigned short get_array(unsigned short base, const char* name) const;
    const char* get_value(unsigned short base, unsigned char flags, const char* name) const;
    unsigned short get_id(unsigned short base, unsigned char flags, const char* name) const;
    const char* get_string(unsigned short base, const char* name) const;
    int get_int(unsigned short base, const char* name, bool* present = 0) const;
    unsigned get_unsigned(unsigned short base, const char* name, bool* present = 0) const;
    long long get_long64(unsigned short base, const char* name, bool* present = 0) const;
    unsigned long long get_ulong64(unsigned short base, const char* name, bool* present = 0) const;
    double get_double(unsigned short base, const char* name, bool* present = 0) const;
    bool get_bool(unsigned short base, const char* name, bool* present = 0) const;
    bool get_bool_int(unsigned short base, const char* name, int& value, unsigned char* present = 0) const;

    // Cursor walks over the direct children of base, whatever their names.
    // Start with last = 0; the cursor moves on every call, so a walk ends at
    // the first child of another kind, and after none it stays at NONE.
    unsigned short get_object(unsigned short base, unsigned short& last) const;
    unsigned short get_array(unsigned short base, unsigned short& last) const;
    const char* get_string(unsigned short base, unsigned short& last) const;
    int get_int(unsigned short base, unsigned short& last, bool* present = 0) const;
    unsigned get_unsigned(unsigned short base, unsigned short& last, bool* present = 0) const;
    long long get_long64(unsigned short base, unsigned short& last, bool* present = 0) const;
    unsigned long long get_ulong64(unsigned short base, unsigned short& last, bool* present = 0) const;
    double get_double(unsigned short base, unsigned short& last, bool* present = 0) const;
    bool get_bool(unsigned short base, unsigned short& last, bool* present = 0) const;
    unsigned short get_next(unsigned short base, unsigned short& last, unsigned char& type, unsigned char& flags,
                            const char*& name, const char*& value) const;
    unsigned short get_first(unsigned char type, unsigned short base) const;
    unsigned short get_next(unsigned char type, unsigned short base, unsigned short last) const;

    // Diagnostics: one log line per item, at most 256.
    void dump() const;

    unsigned short items_used() const { return used; }
    const item* get_item(unsigned short id) const { return id < used ? &items[id] : nullptr; }

private:
    bool name_required(unsigned short base) const
    {
        return base != NONE && !(base < used && items[base].type == ARRAY);
    }
    unsigned short attach(unsigned short base, const char* name, unsigned char type, unsigned char flags,
                          const char* value, unsigned short count);
    void first_last(unsigned short base, unsigned& first, unsigned& last) const;
    unsigned next_sibling(unsigned id) const
    {
        return items[id].type == VALUE ? id + 1 : id + items[id].count + 1u;
    }
    unsigned short find(unsigned short base, unsigned char type, unsigned char flags, const char* name) const;
    unsigned short step(unsigned short base, unsigned short& last) const;
    const char* unquoted(unsigned short base, const char* name, bool* present) const;
    const char* unquoted(unsigned short base, unsigned short& last, bool* present) const;

    char* buffer;
    unsigned short used;
    item items[CAPACITY];
};
