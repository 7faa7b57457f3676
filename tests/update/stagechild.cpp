// Stages a release and marks it pending, as the updater does, so that a test can
// kill it at any moment: stagechild <package> <root> <version>
#include "launcher/installstate.h"
#include "update/packagestager.h"

#include <QCoreApplication>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 4)
        return 2;
    const QString root = args.at(2);
    const QString version = args.at(3);
    if (!PackageStager::stage(args.at(1), root + QStringLiteral("/versions"), version, QByteArray(64, '0'))
                 .problem.isEmpty())
        return 1;
    const std::string statePath = (root + QStringLiteral("/update/state.ini")).toStdString();
    InstallState::State state;
    InstallState::read(statePath, state);
    state.pending = version.toStdString();
    return InstallState::write(statePath, state) ? 0 : 1;
}
