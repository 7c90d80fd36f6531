// Build step: turns the files of the web client into C++ arrays for the
// static file table, gzip-compressing those marked for it.
//   httpfile_gen OUT.cpp ROOT (gzip:NAME | plain:NAME)...
#include <stdio.h>
#include <string.h>
#include <zlib.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

bool ReadFile(const std::string& path, std::string& out)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

// A gzip member with no name and time 0, so that the same input gives the same bytes.
bool Gzip(const std::string& in, std::string& out)
{
    z_stream z;
    memset(&z, 0, sizeof(z));
    if (deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) return false;
    out.resize(deflateBound(&z, in.size()) + 32);
    z.next_in = (Bytef*)in.data();
    z.avail_in = (uInt)in.size();
    z.next_out = (Bytef*)&out[0];
    z.avail_out = (uInt)out.size();
    int rc = deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return rc == Z_STREAM_END;
}

std::string CString(const std::string& s)
{
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\') out.push_back('\\');
        out.push_back(c);
    }
    return out + "\"";
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: %s OUT.cpp ROOT (gzip:NAME | plain:NAME)...\n", argv[0]);
        return 2;
    }
    std::string code = "// Generated from the web client's files at build time.\n#include \"web/web_client_files.h\"\n\n";
    std::string table;
    for (int i = 3; i < argc; i++) {
        std::string arg = argv[i];
        bool gzip = arg.compare(0, 5, "gzip:") == 0;
        if (!gzip && arg.compare(0, 6, "plain:") != 0) {
            fprintf(stderr, "httpfile_gen: %s: neither gzip: nor plain:\n", argv[i]);
            return 2;
        }
        std::string name = arg.substr(gzip ? 5 : 6);
        std::string content, stored;
        if (!ReadFile(std::string(argv[2]) + "/" + name, content)) {
            fprintf(stderr, "httpfile_gen: cannot read %s\n", name.c_str());
            return 1;
        }
        if (!gzip) stored = content;
        else if (!Gzip(content, stored)) {
            fprintf(stderr, "httpfile_gen: cannot compress %s\n", name.c_str());
            return 1;
        }
        std::string var = "file" + std::to_string(i - 3);
        code += "static const unsigned char " + var + "[] = {";
        for (size_t j = 0; j < stored.size(); j++) {
            char hex[16];
            snprintf(hex, sizeof(hex), "%s0x%02x", j == 0 ? "\n    " : j % 16 ? "," : ",\n    ",
                     (unsigned char)stored[j]);
            code += hex;
        }
        if (stored.empty()) code += "0";
        code += "\n};\n";
        table += "    {" + CString(name) + ", " + (gzip ? "HTTPFILE_GZIP" : "0") + ", " + var + ", " +
                 std::to_string(stored.size()) + "},\n";
    }
    code += "\nconst httpfile webClientFiles[] = {\n" + table + "    {nullptr, 0, nullptr, 0},\n};\n";
    code += "const unsigned webClientFileCount = " + std::to_string(argc - 3) + ";\n";
    FILE* out = fopen(argv[1], "wb");
    if (!out || fwrite(code.data(), 1, code.size(), out) != code.size() || fclose(out) != 0) {
        fprintf(stderr, "httpfile_gen: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
