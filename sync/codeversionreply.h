#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// What the index service says about a server path.
struct CodeVersionAnswer
{
    QString isDomain;
    QString codeVersion;
};

// The answer in a reply body, or nothing when the body is not an answer: not a
// JSON object, a "return" other than 0 (a number or numeric text; missing or
// null counts as 0; anything that is not a whole number within 64 bits fails),
// or values that config.dll could not hold. Missing "data" members are empty.
std::optional<CodeVersionAnswer> codeVersionAnswer(const QByteArray &body);
