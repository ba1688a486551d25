#include "supervisor/Supervisor.h"

int main(int, char**)
{
    // The monitor takes no options: arguments are ignored.
    return RunMonitor();
}
