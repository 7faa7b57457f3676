#pragma once

#include <QObject>

// The object that pages reach as `zx` over their view's web channel.
class ZxJavascript : public QObject {
    Q_OBJECT

public:
    static ZxJavascript *getInstance();

private:
    ZxJavascript() = default;
};
