#include "net/curl_multi.h"

#include <algorithm>

#include "runtime/assert.h"

namespace {
// libcurl's process-wide set-up must come before its first handle, once.
void CurlGlobalInit()
{
    static const CURLcode init = curl_global_init(CURL_GLOBAL_DEFAULT);
    ASSERT(init == CURLE_OK, "curl_global_init failed");
}
}  // namespace

CurlMulti::CurlMulti(IIoMux* iomux, UCurlMulti* user) : iomux(iomux), user(user), timer(iomux, this)
{
    CurlGlobalInit();
    multi = curl_multi_init();
    ASSERT(multi, "CurlMulti::CurlMulti curl_multi_init failed");
    curl_multi_setopt(multi, CURLMOPT_SOCKETFUNCTION, SocketFunction);
    curl_multi_setopt(multi, CURLMOPT_SOCKETDATA, this);
    curl_multi_setopt(multi, CURLMOPT_TIMERFUNCTION, TimerFunction);
    curl_multi_setopt(multi, CURLMOPT_TIMERDATA, this);
}

CurlMulti::~CurlMulti()
{
    // Out of the epoll set while curl's descriptors are still open: a number
    // that curl closes may be reused at once by another descriptor of the loop.
    while (!watches.empty()) Unwatch(watches.back());
    curl_multi_cleanup(multi);
    DeleteRetired();
}

void CurlMulti::DeleteRetired()
{
    for (Watch* watch : retired) delete watch;
    retired.clear();
}

void CurlMulti::Add(CURL* easy)
{
    curl_multi_add_handle(multi, easy);
}

void CurlMulti::Remove(CURL* easy)
{
    curl_multi_remove_handle(multi, easy);
}

void CurlMulti::Kick()
{
    if (!IsQueued()) iomux->SetExec(this, nullptr);
}

void CurlMulti::TimerOnTimeout(ITimer*)
{
    Act(CURL_SOCKET_TIMEOUT, 0);
}

void CurlMulti::IoExec(void*)
{
    DeleteRetired();
    Act(CURL_SOCKET_TIMEOUT, 0);
}

int CurlMulti::SocketFunction(CURL*, curl_socket_t socket, int what, void* self, void* watch)
{
    auto* multi = static_cast<CurlMulti*>(self);
    if (what == CURL_POLL_REMOVE) {
        if (watch) multi->Unwatch(static_cast<Watch*>(watch));
        return 0;
    }
    multi->Watching(socket, what, static_cast<Watch*>(watch));
    return 0;
}

int CurlMulti::TimerFunction(CURLM*, long timeoutMs, void* self)
{
    auto* multi = static_cast<CurlMulti*>(self);
    multi->timer.Cancel();
    // 0 asks for a run as soon as possible; a deferred call gives it without
    // waiting for the clock to move on.
    if (timeoutMs == 0) multi->Kick();
    else if (timeoutMs > 0) multi->timer.Start((unsigned long)timeoutMs);
    return 0;
}

void CurlMulti::Watching(curl_socket_t socket, int what, Watch* watch)
{
    if (!watch) {
        watch = new Watch(this, socket);
        watches.push_back(watch);
        curl_multi_assign(multi, socket, watch);
    }
    // The loop cannot change what a registered descriptor waits for: a change
    // of output interest registers it anew, and the new registration reports
    // what is ready already.
    bool out = (what & CURL_POLL_OUT) != 0;
    if (watch->registered && out != ((watch->what & CURL_POLL_OUT) != 0)) iomux->FDRem(watch);
    watch->what = what;
    iomux->FDAdd(socket, watch, out);
}

void CurlMulti::Unwatch(Watch* watch)
{
    auto it = std::find(watches.begin(), watches.end(), watch);
    if (it == watches.end()) return;
    watches.erase(it);
    iomux->FDRem(watch);
    retired.push_back(watch);
    Kick();
}

void CurlMulti::Watch::IoContextNotify(bool in, bool out)
{
    int events = 0;
    // A hang-up is read as input: curl learns of the end by reading it.
    if ((in || hangup) && (what & CURL_POLL_IN)) events |= CURL_CSELECT_IN;
    if (out && (what & CURL_POLL_OUT)) events |= CURL_CSELECT_OUT;
    if (error) events |= CURL_CSELECT_ERR;
    if (events) multi->Act(socket, events);
}

void CurlMulti::Act(curl_socket_t socket, int events)
{
    int running = 0;
    curl_multi_socket_action(multi, socket, events, &running);
    int left = 0;
    while (CURLMsg* msg = curl_multi_info_read(multi, &left))
        if (msg->msg == CURLMSG_DONE) user->CurlMultiDone(msg->easy_handle, msg->data.result);
    user->CurlMultiActed();
}
