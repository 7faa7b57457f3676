#pragma once

#include <QString>
#include <QStringList>

// Addresses that differ from one deployment to the next. Each executable links
// its own definitions, made from the build options FENESTRA_SIGNUP_HOST and
// FENESTRA_INDEX_HOST, and the release channel, from FENESTRA_UPDATE_URL and
// FENESTRA_UPDATE_KEYS.
namespace Deployment {

// The company sign-up page, opened while no company server is configured.
QString signUpAddress();

// The index service that knows each company server's code version.
QString indexServiceAddress();

// The signed release manifest; empty when updates are off (no address, or
// fewer than two keys).
QString updateManifestAddress();

// The minisign public keys (base64, as minisign prints them) that may sign it.
QStringList updateKeys();

// How long a version on trial keeps its window up before it counts as healthy.
int healthyDelayMs();

// The most an update check waits at random beyond its time, so that the
// desktops of a plant do not ask the channel at the same moment.
int checkSpreadMs();

// Where the shell sends its crash dumps, from FENESTRA_CRASH_UPLOAD_URL; empty: nowhere.
QString crashUploadAddress();

} // namespace Deployment
