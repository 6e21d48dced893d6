// The server side of the machine's mailslot: the claim of the server role
// (the mutex "VFPZanvor", the mailslot and the receive timer) and the timer
// procedure that drains the mailslot.
#ifndef ZANVOR_MESSAGING_MAILSLOT_SERVER_WIN_H_
#define ZANVOR_MESSAGING_MAILSLOT_SERVER_WIN_H_

#include <windows.h>

#include "contract/network.h"

namespace zanvor {

constexpr UINT kReceiveIntervalMs = 200;

// Waits on the server mutex without blocking. A win (WAIT_ABANDONED counts:
// the dead owner's role passes to us) keeps or creates the mailslot and the
// receive timer; a second win by the instance that already holds the role
// keeps both. Returns whether this instance holds the role afterwards.
bool ClaimServerMutexAndMailslot();

// Gives the role up: kills the timer, closes the mailslot (ZANVOR_EXIT).
void StopReceiving();

void CALLBACK MailslotTimerProc(HWND window, UINT message, UINT_PTR eventId, DWORD time);

}  // namespace zanvor

#endif  // ZANVOR_MESSAGING_MAILSLOT_SERVER_WIN_H_
