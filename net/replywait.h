#pragma once

class QNetworkReply;

// Returns once `reply` has finished, running a local event loop meanwhile so
// that the window stays usable and other requests go on.
void waitUntilFinished(QNetworkReply *reply);
