// Signals, child processes and the orderly shutdown of the loop.
#include <errno.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

#include "runtime/io_mux.h"

IoMux* IoMux::signalMux = nullptr;

namespace {

const int handledSignals[] = {SIGTERM, SIGKILL, SIGHUP, SIGINT, SIGPIPE, SIGUSR1, SIGCHLD};

template <class T> bool Contains(const std::vector<T*>& list, T* item)
{
    return std::find(list.begin(), list.end(), item) != list.end();
}

// Callees may unregister themselves or others; each one still registered
// when its turn comes is called once.
template <class T, class F> void ForEachRegistered(const std::vector<T*>& list, F call)
{
    std::vector<T*> snapshot = list;
    for (T* item : snapshot)
        if (Contains(list, item)) call(item);
}

template <class T> bool Erase(std::vector<T*>& list, T* item)
{
    auto it = std::find(list.begin(), list.end(), item);
    if (it == list.end()) return false;
    list.erase(it);
    return true;
}

}  // namespace

void IoMux::OnProcessSignal(int sig)
{
    int saved = errno;
    if (IoMux* mux = signalMux) mux->Signal(sig);
    errno = saved;
}

void IoMux::InstallSignalHandlers(bool on)
{
    struct sigaction sa = {};
    sa.sa_handler = on ? OnProcessSignal : SIG_DFL;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = on ? SA_RESTART : 0;
    // The kernel refuses SIGKILL; the attempt is harmless.
    for (int sig : handledSignals) sigaction(sig, &sa, nullptr);
}

void IoMux::Signal(int sig)
{
    switch (sig) {
    case SIGHUP: sigHangup = true; break;
    case SIGINT:
    case SIGKILL:
    case SIGTERM: sigTerminate = true; break;
    case SIGUSR1: sigUser1 = true; break;
    case SIGCHLD: sigChild = true; break;
    default: break;
    }
    char one = 1;
    ssize_t r = write(wakeFd, &one, 1);
    (void)r;
}

void IoMux::ProcessSignals()
{
    if (sigHangup.exchange(false))
        for (size_t i = 0; i < signalConsumers.size(); i++) signalConsumers[i]->OnSignal(SIGHUP);
    if (sigUser1.exchange(false))
        for (size_t i = 0; i < signalConsumers.size(); i++) signalConsumers[i]->OnSignal(SIGUSR1);
    if (sigTerminate.exchange(false)) Shutdown();
    if (sigChild.exchange(false)) ReapChildren();
}

void IoMux::ReapChildren()
{
    for (;;) {
        int status = 0;
        pid_t pid = waitpid(-1, &status, WNOHANG | WUNTRACED);
        if (pid < 0 && errno == EINTR) continue;
        if (pid <= 0) return;
        int sig = WIFSIGNALED(status) ? WTERMSIG(status) : WIFSTOPPED(status) ? WSTOPSIG(status) : 0;
        int code = WIFEXITED(status) ? WEXITSTATUS(status) : 0;
        bool crashed = WIFSIGNALED(status) && (sig == SIGILL || sig == SIGABRT || sig == SIGSEGV || sig == SIGPIPE);
        ForEachRegistered(childHandlers, [&](IChildExitedHandler* h) { h->ChildExited(pid, sig, code, crashed); });
    }
}

void IoMux::RegisterSignalConsumer(ISignalConsumer* consumer)
{
    signalConsumers.push_back(consumer);
}

void IoMux::RegisterChildExitedHandler(IChildExitedHandler* handler)
{
    childHandlers.push_back(handler);
}

void IoMux::UnRegisterChildExitedHandler(IChildExitedHandler* handler)
{
    Erase(childHandlers, handler);
}

void IoMux::RegisterShutdownHandler(IShutdownHandler* handler)
{
    shutdownHandlers.push_back(handler);
}

void IoMux::Shutdown()
{
    shuttingDown = true;
    if (shutdownHandlers.empty()) {
        Terminate();
        return;
    }
    ForEachRegistered(shutdownHandlers, [](IShutdownHandler* h) { h->Shutdown(); });
}

void IoMux::ShutdownTimeout()
{
    ForEachRegistered(shutdownHandlers, [](IShutdownHandler* h) { h->ShutdownTimeout(); });
}

void IoMux::ShutdownComplete(IShutdownHandler* handler)
{
    if (Erase(shutdownHandlers, handler) && shutdownHandlers.empty() && shuttingDown) Terminate();
}

void IoMux::Terminate()
{
    running = false;
    WakeUp();
}
