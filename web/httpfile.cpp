#include "web/httpfile.h"

#include <openssl/evp.h>
#include <stdio.h>
#include <string.h>
#include <strings.h>

#include "runtime/assert.h"
#include "runtime/debug.h"
#include "web/web_client_files.h"

namespace {
btree* table = nullptr;

struct Suffix {
    const char* suffix;
    wsr_type_t type;
};

const Suffix suffixes[] = {
    {"html", WSP_RESPONSE_HTML},
    {"htm", WSP_RESPONSE_HTML},
    {"css", WSP_RESPONSE_CSS},
    {"xml", WSP_RESPONSE_XML},
    {"xsl", WSP_RESPONSE_XML},
    {"soap", WSP_RESPONSE_XML},
    {"js", WSP_RESPONSE_JAVASCRIPT},
    {"json", WSP_RESPONSE_JSON},
    {"ico", WSP_RESPONSE_ICON},
    {"bin", WSP_RESPONSE_BINARY},
    {"jar", WSP_RESPONSE_JAVA},
    {"png", WSP_RESPONSE_PNG},
    {"gif", WSP_RESPONSE_GIF},
    {"bmp", WSP_RESPONSE_BMP},
    {"jpeg", WSP_RESPONSE_JPEG},
    {"pdf", WSP_RESPONSE_PDF},
    {"txt", WSP_RESPONSE_TEXT},
    {"csv", WSP_RESPONSE_CSV},
    {"wav", WSP_RESPONSE_WAV},
    {"ogg", WSP_RESPONSE_OGG},
    {"mp3", WSP_RESPONSE_MP3},
    {"mp4", WSP_RESPONSE_MP4},
    {"webm", WSP_RESPONSE_WEBM},
    {"svg", WSP_RESPONSE_SVG},
    {"ttf", WSP_RESPONSE_TTF},
    {"eot", WSP_RESPONSE_EOT},
    {"woff", WSP_RESPONSE_WOFF},
    {"woff2", WSP_RESPONSE_WOFF},
    {"g711a", WSP_RESPONSE_G711},
    {"g711u", WSP_RESPONSE_G711},
    {"g722", WSP_RESPONSE_G722},
    {"g729", WSP_RESPONSE_G729},
    {"opus-nb", WSP_RESPONSE_OPUS},
    {"opus-wb", WSP_RESPONSE_OPUS},
    {"pem", WSP_RESPONSE_PEM},
    {"mobileconfig", WSP_RESPONSE_MOBILECONFIG},
    {"appcache", WSP_RESPONSE_CACHE_MANIFEST},
};
}  // namespace

HttpFile::HttpFile(const httpfile* file) : file(file), type(HttpFiles::ContentType(file->name))
{
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned mdLen = 0;
    ASSERT(EVP_Digest(file->content, file->length, md, &mdLen, EVP_md5(), nullptr) == 1 && mdLen == 16,
           "HttpFile MD5 unavailable");
    for (unsigned i = 0; i < 16; i++) snprintf(etag + 2 * i, 3, "%02x", md[i]);
}

int HttpFile::btree_compare(void* key)
{
    return strcmp(static_cast<const char*>(key), file->name);
}

int HttpFile::btree_compare(btree* other)
{
    return btree_compare((void*)static_cast<HttpFile*>(other)->file->name);
}

wsr_type_t HttpFiles::ContentType(const char* name)
{
    const char* base = strrchr(name, '/');
    const char* dot = strrchr(base ? base : name, '.');
    if (dot)
        for (const Suffix& s : suffixes)
            if (!strcasecmp(dot + 1, s.suffix)) return s.type;
    if (debug) debug->printf("WARNING: Unkown file type for static file %s - using text", name);
    return WSP_RESPONSE_TEXT;
}

void HttpFiles::Register(const httpfile* files, unsigned count)
{
    for (unsigned i = 0; i < count; i++) {
        if (btree* old = btree::btree_find(table, (void*)files[i].name)) {
            if (debug) debug->printf("HttpFiles::Register WARNING: static file %s registered again, replacing it",
                                     files[i].name);
            table = btree::btree_get(table, old);
            delete old;
        }
        table = btree::btree_put(table, new HttpFile(&files[i]));
    }
}

void HttpFiles::RegisterBuiltIn()
{
    static bool done = false;
    if (done) return;
    done = true;
    Register(webClientFiles, webClientFileCount);
}

const HttpFile* HttpFiles::Find(const char* name)
{
    return static_cast<HttpFile*>(btree::btree_find(table, (void*)name));
}

bool HttpFiles::AnyStartsWith(const char* prefix)
{
    // Names beginning with the prefix sort right at or after it.
    HttpFile* first = static_cast<HttpFile*>(btree::btree_find_right(table, (void*)prefix));
    return first && !strncmp(first->Name(), prefix, strlen(prefix));
}
