#pragma once

#include <QString>

// Addresses that differ from one deployment to the next. Each executable links
// its own definitions, made from the build options FENESTRA_SIGNUP_HOST and
// FENESTRA_INDEX_HOST.
namespace Deployment {

// The company sign-up page, opened while no company server is configured.
QString signUpAddress();

// The index service that knows each company server's code version.
QString indexServiceAddress();

} // namespace Deployment
