// Cutting a wait on the brick short. motorGoTo and sonarGetValue exchange
// telegrams back to back until the brick reports what they wait for; the
// program may register one check that they ask between two exchanges. When
// it answers true, the wait ends at once, sends nothing more, and reports
// that it was cancelled: whoever cancelled it stops the motors.
//
// The check runs on the thread of the wait, once per exchange, so it must be
// cheap, and it must not call into this layer.
#pragma once

using WaitCancelCheck = bool (*)();

// Registers `check` for every wait from now on; null: waits are never
// cancelled (the state at start).
void setWaitCancelCheck(WaitCancelCheck check);

// True when a check is registered and it answers true.
bool waitCancelled();
