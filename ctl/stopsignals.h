#ifndef USBSYNTH_CTL_STOPSIGNALS_H
#define USBSYNTH_CTL_STOPSIGNALS_H

// Catches SIGINT, SIGTERM and SIGHUP while it lives, so that a running job
// can finish its current step and stop cleanly. The handler only writes the
// signal number into a pipe; waits watch that pipe, so a signal that comes
// just before a wait still ends it at once. One instance at a time.
class StopSignals
{
public:
    StopSignals();
    ~StopSignals();
    StopSignals(const StopSignals &) = delete;
    StopSignals &operator=(const StopSignals &) = delete;

    // Waits up to ms milliseconds; returns early when a signal comes.
    void wait(int ms);
    // The first signal caught, or 0.
    int caught();

private:
    void drain();

    int fds[2] = {-1, -1};
    int first = 0;
};

#endif // USBSYNTH_CTL_STOPSIGNALS_H
