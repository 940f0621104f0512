// Periodic messages: messages of the host that one sender thread writes again and again through
// PassThruWriteMsgs, each at its interval.
#pragma once

#include <cstdint>
#include <mutex>

#include "common/j2534.h"

// One message the sender found due, copied under the device lock.
struct DuePeriodicMsg {
    uint32_t channelId = 0;
    j2534::PASSTHRU_MSG message{};
};

// Caller holds g_deviceLock. Takes one message that is due at nowUs (the microsecond clock): of
// several, the one whose following send falls due first, so that a message of a short interval
// does not wait behind a row of long ones due at the same time. Its next send is scheduled one
// interval after nowUs: a late send is not caught up, and the gap to the next stays the interval.
// False when none is due; *nextUs then tells when one will be (UINT64_MAX: none is left).
bool TakeDuePeriodicMsgLocked(uint64_t nowUs, DuePeriodicMsg* due, uint64_t* nextUs);

// Caller holds g_deviceLock. Starts the sender thread unless it runs; false when no thread could
// be started. The sender ends by itself once no periodic message is left or the device closes.
bool EnsurePeriodicSenderLocked();
// lock holds g_deviceLock. Waits until the sender has written the message it copied before this
// call, so that a message removed under the lock is not sent after the caller returns. The wait
// ends after kMostPeriodicSendWaitMs all the same: a send that a lost VCI holds up takes about
// 1.5 s, and a caller inside the loader lock (the 02.02 adapter's unload closes the device) must
// not wait for ever on a send that needs that lock to unload the vendor library.
constexpr uint32_t kMostPeriodicSendWaitMs = 5000;
void WaitForPeriodicSendsLocked(std::unique_lock<std::mutex>& lock);

// lock holds g_deviceLock. Removes the periodic messages of the channel (of every channel for
// channelId 0) and waits out a send in flight: a write that outlived PassThruDisconnect or
// PassThruClose could run its comm-lost back-off into the next session and shut that session's
// backend down. The lock is let go meanwhile: look channels up again afterwards.
void EndPeriodicMsgsLocked(std::unique_lock<std::mutex>& lock, uint32_t channelId);

// CLEAR_PERIODIC_MSGS: removes every periodic message of the channel (all are the host's); the
// number removed, or -1 for an unknown channel. No message of it is sent after the return.
int ClearPeriodicMsgs(uint32_t channelId);
