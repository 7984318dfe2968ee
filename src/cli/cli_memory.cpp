#ifdef _WIN32
#include <windows.h>
#else
#include <sys/prctl.h>
#include <sys/resource.h>
#endif

#include "cli/cli_memory.h"

void disableCoreDumps()
{
#ifdef _WIN32
    // No error box and no crash dump dialog with the process's memory in it.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
#else
    struct rlimit none {};
    setrlimit(RLIMIT_CORE, &none);
#ifndef __SANITIZE_ADDRESS__
    // Also keeps other processes of the same user from reading our memory. The
    // sanitizer build leaves it out: its leak checker must attach to the process.
    prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
#endif
#endif
}
