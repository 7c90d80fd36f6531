// Decodes arbitrary text; a document that decodes must survive lookups,
// cursor walks and a re-encode whose text decodes again to the same shape.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "json/json_io.h"

namespace {

// Escaping grows a byte to at most six, and the encoded length is 16 bits.
const size_t MAX_INPUT = 8192;

void walk(const json_io& json, unsigned short base)
{
    unsigned short last = 0;
    unsigned char type, flags;
    const char *name, *value;
    unsigned short id;
    while ((id = json.get_next(base, last, type, flags, name, value)) != json_io::NONE) {
        if (type == json_io::VALUE && (!value || strlen(value) > json.get_item(id)->count)) abort();
        if (base != json_io::NONE && json.get_item(id)->base != base) abort();
    }
    for (last = 0; json.get_int(base, last) || last != json_io::NONE;) {}
    for (last = 0; json.get_string(base, last) || last != json_io::NONE;) {}
    for (id = json.get_first(json_io::ANY, base); id != json_io::NONE; id = json.get_next(json_io::ANY, base, id)) {}
}

void lookups(const json_io& json, unsigned short base)
{
    bool present;
    int i;
    unsigned char how;
    json.get_object(base, "mt");
    json.get_array(base, "a");
    json.get_string(base, "src");
    json.get_int(base, "n", &present);
    json.get_unsigned(base, "n", &present);
    json.get_long64(base, "n", &present);
    json.get_ulong64(base, "n", &present);
    json.get_double(base, "n", &present);
    json.get_bool(base, "b", &present);
    json.get_bool_int(base, "b", i, &how);
    json.get_value(base, 0, nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > MAX_INPUT) return 0;
    std::vector<char> text(data, data + size);
    text.push_back(0);
    json_io json(text.data());
    if (!json.decode()) return 0;

    lookups(json, json_io::NONE);
    walk(json, json_io::NONE);
    for (unsigned short i = 0; i < json.items_used(); i++) {
        if (json.get_item(i)->type == json_io::VALUE) continue;
        lookups(json, i);
        walk(json, i);
    }

    static char out[6 * MAX_INPUT + 16];
    char* end = out;
    if (json.items_used()) json.write(0, end);
    *end = 0;  // a lone unquoted value is written without terminator

    json_io again(out);
    if (!again.decode()) abort();
    if (again.items_used() != json.items_used()) abort();
    for (unsigned short i = 0; i < json.items_used(); i++) {
        const json_io::item* a = json.get_item(i);
        const json_io::item* b = again.get_item(i);
        if (a->type != b->type || a->base != b->base) abort();
        if (a->type != json_io::VALUE && a->count != b->count) abort();
    }
    return 0;
}
