#include "json/json_io.h"

#include <stdlib.h>
#include <string.h>

#include "runtime/debug.h"

namespace {

inline bool same_name(const char* a, const char* b)
{
    if (!a || !b) return a == b;
    return a[0] == b[0] && strcmp(a, b) == 0;
}

inline void set_present(bool* present, bool v)
{
    if (present) *present = v;
}

// Plain decimals, the common case, are converted here; signs, base
// prefixes, blanks, trailing text and overflow are left to the C library.
inline bool plain_decimal(const char* v, unsigned digits, unsigned long long& out)
{
    if (v[0] == '0' && !v[1]) {
        out = 0;
        return true;
    }
    if (v[0] < '1' || v[0] > '9') return false;
    unsigned long long r = 0;
    unsigned i = 0;
    for (; v[i] >= '0' && v[i] <= '9'; i++) {
        if (i == digits) return false;
        r = r * 10 + (unsigned)(v[i] - '0');
    }
    if (v[i]) return false;
    out = r;
    return true;
}

unsigned long long to_ulong64(const char* v)
{
    unsigned long long r;
    return plain_decimal(v, 19, r) ? r : strtoull(v, nullptr, 0);
}

long long to_long64(const char* v)
{
    unsigned long long r;
    if (plain_decimal(v, 18, r)) return (long long)r;
    if (v[0] == '-' && plain_decimal(v + 1, 18, r)) return -(long long)r;
    return strtoll(v, nullptr, 0);
}

}  // namespace

// The direct children of base lie between first and last (inclusive); an
// empty range has first > last. The bounds stay inside the table even when
// a failed decode left it half built.
void json_io::first_last(unsigned short base, unsigned& first, unsigned& last) const
{
    first = 1;
    last = 0;
    if (base == NONE) {
        if (used) first = 0;
        return;
    }
    if (base >= used || items[base].type == VALUE) return;
    first = base + 1u;
    last = base + items[base].count;
    if (last >= used) last = used - 1u;
}

unsigned short json_io::find(unsigned short base, unsigned char type, unsigned char flags, const char* name) const
{
    unsigned i, last;
    first_last(base, i, last);
    for (; i <= last; i = next_sibling(i)) {
        const item& x = items[i];
        if (x.type == type && (type != VALUE || x.flags == flags) && same_name(x.name, name)) return (unsigned short)i;
    }
    return NONE;
}

unsigned short json_io::get_object(unsigned short base, const char* name) const
{
    return find(base, OBJECT, 0, name);
}

unsigned short json_io::get_array(unsigned short base, const char* name) const
{
    return find(base, ARRAY, 0, name);
}

unsigned short json_io::get_id(unsigned short base, unsigned char flags, const char* name) const
{
    return find(base, VALUE, flags, name);
}

const char* json_io::get_value(unsigned short base, unsigned char flags, const char* name) const
{
    unsigned short id = find(base, VALUE, flags, name);
    return id == NONE ? nullptr : items[id].value;
}

const char* json_io::get_string(unsigned short base, const char* name) const
{
    return get_value(base, FLAG_QUOTED, name);
}

const char* json_io::unquoted(unsigned short base, const char* name, bool* present) const
{
    const char* v = get_value(base, 0, name);
    set_present(present, v != nullptr);
    return v;
}

int json_io::get_int(unsigned short base, const char* name, bool* present) const
{
    const char* v = unquoted(base, name, present);
    return v ? (int)to_long64(v) : 0;
}

unsigned json_io::get_unsigned(unsigned short base, const char* name, bool* present) const
{
    const char* v = unquoted(base, name, present);
    return v ? (unsigned)to_ulong64(v) : 0;
}

long long json_io::get_long64(unsigned short base, const char* name, bool* present) const
{
    const char* v = unquoted(base, name, present);
    return v ? to_long64(v) : 0;
}

unsigned long long json_io::get_ulong64(unsigned short base, const char* name, bool* present) const
{
    const char* v = unquoted(base, name, present);
    return v ? to_ulong64(v) : 0;
}

double json_io::get_double(unsigned short base, const char* name, bool* present) const
{
    const char* v = unquoted(base, name, present);
    return v ? strtod(v, nullptr) : 0;
}

bool json_io::get_bool(unsigned short base, const char* name, bool* present) const
{
    const char* v = unquoted(base, name, present);
    if (!v) return false;
    if (!strcmp(v, "true")) return true;
    if (strcmp(v, "false")) set_present(present, false);
    return false;
}

bool json_io::get_bool_int(unsigned short base, const char* name, int& value, unsigned char* present) const
{
    const char* v = get_value(base, 0, name);
    if (present) *present = v ? 1 : 0;
    if (!v) return false;
    if (!strcmp(v, "true")) {
        value = 1;
        return true;
    }
    if (!strcmp(v, "false")) {
        value = 0;
        return false;
    }
    value = (int)to_long64(v);
    if (present) *present = 2;
    return value != 0;
}

// The document level has a single child, so its walk ends right after the
// top-level item instead of starting over with a cursor of 0.
unsigned short json_io::step(unsigned short base, unsigned short& last) const
{
    if (last == NONE) return NONE;
    if (base == NONE) {
        last = NONE;
        return used ? 0 : NONE;
    }
    unsigned first, end;
    first_last(base, first, end);
    unsigned candidate = last <= base ? first : last < used ? next_sibling(last) : end + 1;
    if (candidate > end) {
        last = NONE;
        return NONE;
    }
    last = (unsigned short)candidate;
    return last;
}

unsigned short json_io::get_object(unsigned short base, unsigned short& last) const
{
    unsigned short id = step(base, last);
    return id != NONE && items[id].type == OBJECT ? id : NONE;
}

unsigned short json_io::get_array(unsigned short base, unsigned short& last) const
{
    unsigned short id = step(base, last);
    return id != NONE && items[id].type == ARRAY ? id : NONE;
}

const char* json_io::get_string(unsigned short base, unsigned short& last) const
{
    unsigned short id = step(base, last);
    if (id == NONE || items[id].type != VALUE || items[id].flags != FLAG_QUOTED) return nullptr;
    return items[id].value;
}

const char* json_io::unquoted(unsigned short base, unsigned short& last, bool* present) const
{
    unsigned short id = step(base, last);
    const char* v = id != NONE && items[id].type == VALUE && items[id].flags == 0 ? items[id].value : nullptr;
    set_present(present, v != nullptr);
    return v;
}

int json_io::get_int(unsigned short base, unsigned short& last, bool* present) const
{
    const char* v = unquoted(base, last, present);
    return v ? (int)to_long64(v) : 0;
}

unsigned json_io::get_unsigned(unsigned short base, unsigned short& last, bool* present) const
{
    const char* v = unquoted(base, last, present);
    return v ? (unsigned)to_ulong64(v) : 0;
}

long long json_io::get_long64(unsigned short base, unsigned short& last, bool* present) const
{
    const char* v = unquoted(base, last, present);
    return v ? to_long64(v) : 0;
}

unsigned long long json_io::get_ulong64(unsigned short base, unsigned short& last, bool* present) const
{
    const char* v = unquoted(base, last, present);
    return v ? to_ulong64(v) : 0;
}

double json_io::get_double(unsigned short base, unsigned short& last, bool* present) const
{
    const char* v = unquoted(base, last, present);
    return v ? strtod(v, nullptr) : 0;
}

bool json_io::get_bool(unsigned short base, unsigned short& last, bool* present) const
{
    const char* v = unquoted(base, last, present);
    if (!v) return false;
    if (!strcmp(v, "true")) return true;
    if (strcmp(v, "false")) set_present(present, false);
    return false;
}

unsigned short json_io::get_next(unsigned short base, unsigned short& last, unsigned char& type,
                                 unsigned char& flags, const char*& name, const char*& value) const
{
    unsigned short id = step(base, last);
    if (id == NONE) return NONE;
    type = items[id].type;
    flags = items[id].flags;
    name = items[id].name;
    value = items[id].value;
    return id;
}

unsigned short json_io::get_first(unsigned char type, unsigned short base) const
{
    unsigned i, last;
    first_last(base, i, last);
    for (; i <= last; i = next_sibling(i)) {
        if (type == ANY || items[i].type == type) return (unsigned short)i;
    }
    return NONE;
}

unsigned short json_io::get_next(unsigned char type, unsigned short base, unsigned short last) const
{
    unsigned i, end;
    first_last(base, i, end);
    if (base == NONE || last == NONE) return NONE;
    if (last > base) i = last < used ? next_sibling(last) : end + 1;
    for (; i <= end; i = next_sibling(i)) {
        if (type == ANY || items[i].type == type) return (unsigned short)i;
    }
    return NONE;
}

void json_io::dump() const
{
    static const char* const type_names[] = {"OBJECT", "ARRAY", "VALUE", "QUOTED"};
    if (!debug) return;
    for (unsigned i = 0; i < used && i < 256; i++) {
        const item& x = items[i];
        debug->printf("(%u): base=%u count=%u flags=%u %s=%s/%s", i, x.base, x.count, x.flags,
                      x.type < 4 ? type_names[x.type] : "?", x.name ? x.name : "(null)",
                      x.value ? x.value : "(null)");
    }
}
