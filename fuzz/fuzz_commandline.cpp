// What zx.run starts, for any two texts from a page: never a text cut at a NUL,
// and only what the page gave (the program and arguments come from its texts).
#include "bridge/commandrunner.h"
#include "config/appdir.h"
#include "fuzzinput.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    silenceQtMessages();
    AppDir::setPath(QStringLiteral("/fuzz/app dir"));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider input(data, size);
    const QString cmd = input.ConsumeBool() ? utf16Text(input, 48) : nearlyAsciiText(input, 48);
    const QString args = input.ConsumeBool() ? QString() : utf16Text(input, 48);

    const CommandLine line = commandLineFor(cmd, args);
    const bool hasNul = cmd.contains(QChar(0)) || args.contains(QChar(0));
    if (hasNul) {
        FUZZ_CHECK(line.program.isEmpty() && line.arguments.isEmpty());
        return 0;
    }
    FUZZ_CHECK(!line.program.contains(QChar(0)));
    for (const QString &argument : line.arguments)
        FUZZ_CHECK(!argument.contains(QChar(0)));

    if (!args.isEmpty()) {
        FUZZ_CHECK(line.program == cmd && line.arguments == QStringList { args });
        FUZZ_CHECK(line.workingDirectory == AppDir::path());
    } else if (line.arguments.isEmpty()) {
        FUZZ_CHECK(line.program == cmd && line.workingDirectory.isEmpty());
    } else {
        // A word, white space, then the argument list.
        FUZZ_CHECK(cmd.startsWith(line.program) && cmd.size() > line.program.size());
        FUZZ_CHECK(cmd.at(line.program.size()).isSpace());
        FUZZ_CHECK(line.program == QLatin1String("explorer")
                   || cmd.endsWith(line.arguments.join(QLatin1Char(','))));
    }
    return 0;
}
