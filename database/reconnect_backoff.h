#pragma once

// Delays between attempts to reach a server that went away: the first at
// once, then doubling from one second up to a cap, so that a server that is
// back soon is used soon and one that stays away is not hammered.
class ReconnectBackoff {
public:
    explicit ReconnectBackoff(unsigned capMs = 30000) : cap(capMs) {}

    // The delay before the next attempt, in milliseconds.
    unsigned Next()
    {
        unsigned now = delay;
        delay = delay ? (delay >= cap / 2 ? cap : delay * 2) : 1000;
        return now;
    }
    // The server has been reached: the next loss starts over.
    void Reset() { delay = 0; }

private:
    unsigned cap;
    unsigned delay = 0;
};
