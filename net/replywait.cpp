#include "net/replywait.h"

#include <QEventLoop>
#include <QNetworkReply>

void waitUntilFinished(QNetworkReply *reply)
{
    // A reply can finish before the loop starts (a refused connection, a
    // cancelled transfer); the loop would then wait for ever.
    if (reply->isFinished())
        return;
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
}
