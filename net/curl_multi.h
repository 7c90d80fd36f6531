#pragma once

#include <curl/curl.h>

#include <vector>

#include "runtime/iomux.h"
#include "runtime/timer.h"

// The transfers' side of a CurlMulti.
class UCurlMulti {
public:
    virtual ~UCurlMulti() {}
    // A transfer has ended with `result`. The handle is still added.
    virtual void CurlMultiDone(CURL* easy, CURLcode result) = 0;
    // curl has done its work for one event: the transfers' callbacks ran.
    virtual void CurlMultiActed() = 0;
};

// A libcurl multi handle driven by our loop through its socket interface:
// each socket curl wants watched becomes a UIoContext, and curl's one timeout
// an ITimer (a deferred call when curl wants to run at once). curl is only
// ever called from the loop, never from inside one of its own callbacks, and
// the user hears of it only after curl has returned.
// Delete it outside the loop's descriptor callbacks (from a deferred call or
// a timer): an event of the same pass may still name one of its sockets.
class CurlMulti : public UTimer, public UIoExec {
public:
    CurlMulti(IIoMux* iomux, UCurlMulti* user);
    CurlMulti(const CurlMulti&) = delete;
    CurlMulti& operator=(const CurlMulti&) = delete;
    ~CurlMulti() override;

    void Add(CURL* easy);
    void Remove(CURL* easy);
    // Lets curl run its transfers on a later pass, as after a transfer was
    // unpaused.
    void Kick();

    void TimerOnTimeout(ITimer* timer) override;
    void IoExec(void* param) override;

private:
    // One socket of curl's.
    class Watch : public UIoContext {
    public:
        Watch(CurlMulti* multi, curl_socket_t socket) : multi(multi), socket(socket) {}
        void IoContextNotify(bool in, bool out) override;

        CurlMulti* multi;
        curl_socket_t socket;
        int what = CURL_POLL_NONE;
    };

    static int SocketFunction(CURL* easy, curl_socket_t socket, int what, void* self, void* watch);
    static int TimerFunction(CURLM* multi, long timeoutMs, void* self);
    void Watching(curl_socket_t socket, int what, Watch* watch);
    void Unwatch(Watch* watch);
    void Act(curl_socket_t socket, int events);
    void DeleteRetired();

    IIoMux* iomux;
    UCurlMulti* user;
    CURLM* multi;
    ITimer timer;
    std::vector<Watch*> watches;
    // Watches curl has given up. Deleted on a later pass of our own: an event
    // of the pass that gave them up may still name them.
    std::vector<Watch*> retired;
};
