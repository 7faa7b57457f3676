// Runs the Qt Quick tests of the bar's components headless, in the same
// isolated environment as every other test. The components come from the
// program's own resource bundle.
#include "testenvironment.h"

#include <QGuiApplication>
#include <QtQuickTest>

int main(int argc, char *argv[])
{
    prepareTestEnvironment();
    QGuiApplication app(argc, argv);
    return quick_test_main(argc, argv, "tst_navbar_components", QUICK_TEST_SOURCE_DIR);
}
