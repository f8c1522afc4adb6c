#pragma once
// Real-time scheduling for the thread that feeds the sound server, as PulseAudio's own
// clients get it: directly where the process may (RLIMIT_RTPRIO or privilege), else from
// rtkit over the system D-Bus. Every way may fail; the thread then stays as it was.

namespace vesquin {

// Makes the calling thread SCHED_RR at `priority` (reset on fork); false when neither the
// kernel nor rtkit allows it.
bool RaiseThreadToRealtime(int priority);
// The same through rtkit alone; false without a system bus, without rtkit, or on refusal.
// Waits at most about half a second per request.
bool AskRtkitForRealtime(int priority);
// A higher nice level for the calling thread, directly or through rtkit; false when refused.
bool RaiseThreadNice(int niceLevel);

}  // namespace vesquin
