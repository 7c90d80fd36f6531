#include "dbfiles/dbfiles_bytea.h"

#include <string.h>

namespace {

// Chunks are decoded on the loop thread at the speed of the connection, so
// a table lookup per digit instead of comparisons.
struct HexTable {
    signed char value[256];
    HexTable()
    {
        memset(value, -1, sizeof(value));
        for (int i = 0; i < 10; i++) value['0' + i] = (signed char)i;
        for (int i = 0; i < 6; i++) value['a' + i] = value['A' + i] = (signed char)(10 + i);
    }
};

const HexTable HEX;

}  // namespace

bool DbFilesDecodeBytea(const char* text, std::vector<unsigned char>& out)
{
    out.clear();
    if (text[0] == '\0') return true;
    if (text[0] != '\\' || text[1] != 'x') return false;
    const unsigned char* hex = (const unsigned char*)text + 2;
    size_t digits = strlen((const char*)hex);
    if (digits % 2) return false;
    out.resize(digits / 2);
    unsigned char* o = out.data();
    int bad = 0;
    for (size_t i = 0; i < digits / 2; i++) {
        int hi = HEX.value[hex[2 * i]], lo = HEX.value[hex[2 * i + 1]];
        bad |= hi | lo;
        o[i] = (unsigned char)((unsigned)hi << 4 | (unsigned)lo);
    }
    if (bad < 0) out.clear();
    return bad >= 0;
}
