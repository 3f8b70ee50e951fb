#include "directcmd/wait_cancel.h"

namespace {

WaitCancelCheck registeredCheck = nullptr;

}  // namespace

void setWaitCancelCheck(WaitCancelCheck check) { registeredCheck = check; }

bool waitCancelled() { return registeredCheck != nullptr && registeredCheck(); }
