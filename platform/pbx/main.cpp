// platform-pbx: a PBX at a terminal. It watches users' unread badges and
// takes part in a group chat as one member, over the same "PbxSignal" link a
// real PBX would use.
//
//   platform-pbx --password=PW [--http=ADDR:PORT] [--badges=USER,...] [--chat=GROUP --member=USER]
// --help tells the rest. What it sees goes to standard output, between a line
// when it is ready and one when it has stopped (saying why); what it refuses
// goes to standard error.
#include <signal.h>
#include <stdio.h>
#include <strings.h>
#include <unistd.h>

#include <boost/asio/posix/stream_descriptor.hpp>
#include <boost/asio/read_until.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/streambuf.hpp>
#include <istream>
#include <map>
#include <set>

#include "platform/pbx/pbx_options.h"
#include "platform/pbx/pbx_peer.h"

namespace asio = boost::asio;

namespace {

class Terminal {
public:
    Terminal(pbx::PbxPeer& peer, const pbx::PbxOptions& o)
        : peer(peer), o(o), input(peer.io, dup(0)), signals(peer.io, SIGINT, SIGTERM)
    {
    }

    void Start()
    {
        peer.onMessage = [this](const pbx::PbxMessage& m) { Received(m); };
        peer.onClosed = [this](const std::string& why) {
            stopReason = "connection ended: " + why;
            exitCode = 1;
            peer.io.stop();
        };
        signals.async_wait([this](boost::system::error_code ec, int sig) {
            if (!ec) Finish(sig == SIGINT ? "SIGINT" : "SIGTERM");
        });
        for (auto& user : o.badges) {
            pbx::Setup s;
            s.cg = user;
            s.cd = o.object;
            s.subscribe = true;
            subscriptions[peer.Present(s)] = user;
        }
        if (!o.chat.empty()) {
            pbx::Setup s;
            s.cg = o.member;
            s.cd = o.chat;
            s.im = true;
            s.name = o.memberDn;
            ownCall = peer.Present(s);
        }
        ReadLine();
    }

    int exitCode = 0;
    bool closing = false;
    std::string stopReason;

private:
    void Received(const pbx::PbxMessage& m)
    {
        if (!m.IsSignaling()) return;
        auto sub = subscriptions.find(m.call);
        if (sub != subscriptions.end()) {
            if (m.Badge() >= 0) printf("badge %s %lld\n", sub->second.c_str(), m.Badge());
            else if (m.type == "rel") {
                printf("badges of %s ended\n", sub->second.c_str());
                subscriptions.erase(sub);
            }
            return;
        }
        if (m.type == "setup" && m.call >= 1) {
            // The instance calls every member; only ours rings here.
            if (!strcasecmp(m.cd.c_str(), o.member.c_str()) && !strcasecmp(m.cg.c_str(), o.chat.c_str())) {
                peer.Signal(m.call, pbx::TypeSig("conn"));
                calls.insert(m.call);
            }
            return;
        }
        bool own = m.call == ownCall;
        if (!own && !calls.count(m.call)) return;
        if (m.type == "conn" && own) {
            calls.insert(m.call);
            printf("joined %s as %s\n", o.chat.c_str(), o.member.c_str());
        }
        else if (m.type == "rel") {
            if (own && !calls.count(m.call)) printf("%s did not let %s in\n", o.chat.c_str(), o.member.c_str());
            calls.erase(m.call);
            if (own) ownCall = 0;
            if (calls.empty()) printf("no call to %s now\n", o.chat.c_str());
        }
        else if (const pbx::Facility* text = m.Fty("im_message")) {
            auto get = [text](const char* name) {
                auto v = text->find(name);
                return v == text->end() ? std::string() : v->second;
            };
            std::string who = get("sender_dn").empty() ? get("sender") : get("sender_dn");
            printf("%s: %s\n", who.c_str(), get("data").c_str());
        }
    }

    void ReadLine()
    {
        asio::async_read_until(input, line, '\n', [this](boost::system::error_code ec, size_t) {
            std::istream in(&line);
            std::string text;
            // Without a newline at the end the last line still counts.
            if (!std::getline(in, text) || (ec && text.empty())) return Finish("end of input");
            if (!text.empty()) Say(text);
            if (ec) return Finish("end of input");
            ReadLine();
        });
    }

    void Say(const std::string& text)
    {
        if (o.chat.empty()) return;
        if (calls.empty()) {
            fprintf(stderr, "platform-pbx: no call to %s, the text is dropped\n", o.chat.c_str());
            return;
        }
        pbx::ImText t;
        t.data = text;
        t.sender = o.member;
        t.senderDn = o.memberDn;
        peer.Signal(*calls.begin(), pbx::TextSig(t));
    }

    void Finish(const char* why)
    {
        if (stopReason.empty()) stopReason = why;
        for (auto& s : subscriptions) peer.Signal(s.first, pbx::TypeSig("rel"));
        for (long long c : calls) peer.Signal(c, pbx::TypeSig("rel"));
        if (ownCall && !calls.count(ownCall)) peer.Signal(ownCall, pbx::TypeSig("rel"));
        // The websocket close runs the loop itself, after run() has returned.
        peer.onClosed = nullptr;
        closing = true;
        peer.io.stop();
    }

    pbx::PbxPeer& peer;
    const pbx::PbxOptions& o;
    asio::posix::stream_descriptor input;
    asio::streambuf line;
    asio::signal_set signals;
    std::map<long long, std::string> subscriptions;
    long long ownCall = 0;
    std::set<long long> calls;  // the member's connected calls
};

}  // namespace

int main(int argc, char** argv)
{
    pbx::PbxOptions options;
    std::string error = pbx::ParseOptions(argc, argv, options);
    if (!error.empty()) {
        fprintf(stderr, "platform-pbx: %s\n%s", error.c_str(), pbx::kUsage);
        return 2;
    }
    if (options.help) {
        fputs(pbx::kUsage, stdout);
        return 0;
    }
    signal(SIGPIPE, SIG_IGN);
    // Whoever reads our output through a pipe sees each line when it happens.
    setvbuf(stdout, nullptr, _IOLBF, 0);

    pbx::PbxPeer peer(options.peer);
    if (!peer.Connect()) {
        fprintf(stderr, "platform-pbx: %s\n", peer.error.c_str());
        return 1;
    }
    printf("platform-pbx: ready, logged in at ws://%s:%s%s as %s\n", options.peer.host.c_str(),
           options.peer.port.c_str(), options.peer.path.c_str(), options.peer.sip.c_str());
    Terminal terminal(peer, options);
    terminal.Start();
    peer.io.restart();
    peer.io.run();
    if (terminal.closing) peer.Close(2000);
    printf("platform-pbx: stopped (%s), exit code %d\n", terminal.stopReason.c_str(), terminal.exitCode);
    return terminal.exitCode;
}
