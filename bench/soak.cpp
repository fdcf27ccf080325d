// Long soak: calls each export that does not block many times and prints the
// process's handle count, GDI and USER object counts and private bytes before
// and after. Run under Wine from the build's bin folder:
//   soak.exe [rounds]      (default 10000)
#include <cstdio>
#include <cstdlib>

#include "soak_run.h"

static void Print(const char *label, const ProcessCounts &c)
{
    printf("%-7s handles %5lu  gdi %4lu  user %4lu  windows %3lu  private bytes %10lu\n", label,
           (unsigned long)c.handles, (unsigned long)c.gdiObjects, (unsigned long)c.userObjects,
           (unsigned long)c.windows, (unsigned long)c.privateBytes);
}

int main(int argc, char **argv)
{
    int rounds = argc > 1 ? atoi(argv[1]) : 10000;
    if (!SoakServiceInstall()) {
        printf("cannot create the soak service %s\n", SOAK_SERVICE);
        return 1;
    }
    SoakExports(20);
    ProcessCounts before = ReadProcessCounts();
    bool ok = SoakExports(rounds);
    ProcessCounts after = ReadProcessCounts();
    SoakServiceRemove();
    printf("%d rounds (ServiceExists x2, ServiceIsRunning x2, GetWindowByTitle, status window open, close "
           "and dispatch each round; StopAllProcessStarters and an uninstall run every 100th)%s\n",
           rounds, ok ? "" : " - A RESULT WAS WRONG");
    Print("before", before);
    Print("after", after);
    return ok ? 0 : 1;
}
