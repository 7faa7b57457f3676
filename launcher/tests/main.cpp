#include "check.h"

int crashKindTests();
int graphicsLadderTests();
int installStateTests();
int launcherTests();
int statusTests();

int main()
{
    crashKindTests();
    graphicsLadderTests();
    installStateTests();
    launcherTests();
    statusTests();
    if (Check::failures() != 0) {
        std::fprintf(stderr, "%d check(s) failed\n", Check::failures());
        return 1;
    }
    std::printf("all launcher checks passed\n");
    return 0;
}
