#include "platform/pbx/pbx_options.h"

#include "platform/webserver/options.h"

namespace pbx {

namespace {

std::vector<std::string> List(const std::string& text)
{
    std::vector<std::string> items;
    for (size_t at = 0; at <= text.size();) {
        size_t comma = text.find(',', at);
        if (comma == std::string::npos) comma = text.size();
        if (comma > at) items.push_back(text.substr(at, comma - at));
        at = comma + 1;
    }
    return items;
}

// "ws://HOST:PORT/PATH"; the path defaults to /messages.
bool ParseUrl(std::string url, PeerConfig& peer)
{
    if (url.compare(0, 5, "ws://")) return false;
    url = url.substr(5);
    size_t slash = url.find('/');
    std::string address = url.substr(0, slash);
    if (slash != std::string::npos && slash + 1 < url.size()) peer.path = url.substr(slash);
    unsigned short port;
    if (!wsp::SplitAddress(address, peer.host, port)) return false;
    peer.port = std::to_string(port);
    return true;
}

}  // namespace

const char* const kUsage =
    "usage: platform-pbx [--url=ws://HOST:PORT/PATH | --http=ADDR:PORT --path=PATH] --password=APP_PASSWORD\n"
    "                    [--domain=DOMAIN] [--sip=NAME] [--badges=USER,...] [--object=NAME]\n"
    "                    [--chat=GROUP --member=USER [--member-dn=NAME]]\n"
    "  --url=ws://HOST:PORT/PATH  the instance's app websocket (default ws://127.0.0.1:8080/messages)\n"
    "  --http=ADDR:PORT     the same address without the path (default 127.0.0.1:8080)\n"
    "  --path=PATH          the instance's web path (default /messages)\n"
    "  --password=PW        the instance's app password (required)\n"
    "  --domain=DOMAIN      the instance's app domain (default: the host of the address)\n"
    "  --sip=NAME           the name the PBX logs in with (default pbx)\n"
    "  --badges=USER,...    subscribes to these users' unread counts; prints \"badge USER N\" on every change\n"
    "                       (default: none)\n"
    "  --object=NAME        what the badges count: \"chat\" counts chat messages (default messages)\n"
    "  --chat=GROUP --member=USER\n"
    "                       calls the group chat with this SIP name as USER, prints the texts the other\n"
    "                       members write and sends each line of standard input as a text (default: none)\n"
    "  --member-dn=NAME     the sender's display name in the chat (default: none, the SIP name shows)\n"
    "  -h, --help           prints this and exits\n"
    "--badges or --chat is needed. Ctrl-C or the end of standard input releases every call and exits.\n";

std::string ParseOptions(int argc, char** argv, PbxOptions& o)
{
    std::string url, http, badges;
    const std::pair<const char*, std::string*> fields[] = {
        {"url", &url},       {"http", &http},       {"path", &o.peer.path},      {"domain", &o.peer.domain},
        {"password", &o.peer.password}, {"sip", &o.peer.sip}, {"badges", &badges}, {"object", &o.object},
        {"chat", &o.chat},   {"member", &o.member}, {"member-dn", &o.memberDn}};
    for (int n = 1; n < argc; n++) {
        std::string arg = argv[n];
        if (arg == "--help" || arg == "-h") {
            o.help = true;
            return std::string();
        }
        size_t eq = arg.find('=');
        std::string* field = nullptr;
        if (!arg.compare(0, 2, "--") && eq != std::string::npos)
            for (auto& f : fields)
                if (!arg.compare(2, eq - 2, f.first)) field = f.second;
        if (!field) return "unknown option " + arg;
        *field = arg.substr(eq + 1);
    }
    unsigned short port;
    if (!url.empty() && !ParseUrl(url, o.peer)) return "bad --url: " + url;
    if (!http.empty()) {
        if (!wsp::SplitAddress(http, o.peer.host, port)) return "bad --http: " + http;
        o.peer.port = std::to_string(port);
    }
    o.badges = List(badges);
    if (o.peer.password.empty()) return "--password is required";
    if (o.peer.domain.empty()) o.peer.domain = o.peer.host;
    if (o.chat.empty() != o.member.empty()) return "--chat and --member go together";
    if (o.chat.empty() && o.badges.empty()) return "nothing to do: give --badges or --chat";
    return std::string();
}

}  // namespace pbx
