#include <errno.h>

#include "protocol/program_name.h"

const char* runningProgramName() { return program_invocation_short_name; }
