// A count of the allocations the program made: linked in, this file's
// operator new replaces the library's and counts every one.
#pragma once

long allocationCount();
