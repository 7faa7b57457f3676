#include "check.h"

int crashDumpsTests();
int crashKindTests();
int graphicsLadderTests();
int installStateTests();
int launcherTests();
int minidumpTests();
int statusTests();

int main()
{
    crashDumpsTests();
    crashKindTests();
    graphicsLadderTests();
    installStateTests();
    launcherTests();
    minidumpTests();
    statusTests();
    if (Check::failures() != 0) {
        std::fprintf(stderr, "%d check(s) failed\n", Check::failures());
        return 1;
    }
    std::printf("all launcher checks passed\n");
    return 0;
}
