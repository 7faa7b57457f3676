#pragma once

#include <QString>
#include <QtGlobal>

#include <cstdio>
#include <cstdlib>
#include <fuzzer/FuzzedDataProvider.h>

// Texts of any UTF-16 content (NUL, controls, lone surrogates included), the
// way a page's strings reach the shell.
inline QString utf16Text(FuzzedDataProvider &input, size_t maxUnits)
{
    const size_t units = input.ConsumeIntegralInRange<size_t>(0, maxUnits);
    QString text;
    for (size_t i = 0; i < units && input.remaining_bytes() > 0; ++i)
        text += QChar(input.ConsumeIntegral<char16_t>());
    return text;
}

// Mostly printable texts, so that the rules' interesting edges are reached often.
inline QString nearlyAsciiText(FuzzedDataProvider &input, size_t maxBytes)
{
    return QString::fromUtf8(QByteArray::fromStdString(input.ConsumeRandomLengthString(maxBytes)));
}

// A finding: libFuzzer keeps the input that led here.
#define FUZZ_CHECK(condition)                                                                                \
    do {                                                                                                     \
        if (!(condition)) {                                                                                  \
            std::fprintf(stderr, "check failed: %s (%s:%d)\n", #condition, __FILE__, __LINE__);              \
            std::abort();                                                                                    \
        }                                                                                                    \
    } while (false)

// The rules log what they refuse; millions of such lines help nobody here.
inline void silenceQtMessages()
{
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &message) {
        if (type == QtFatalMsg) {
            std::fprintf(stderr, "%s\n", qPrintable(message));
            std::abort();
        }
    });
}
