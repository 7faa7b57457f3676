#pragma once

#include <QByteArray>
#include <QDateTime>

#include <chrono>
#include <optional>

class QRandomGenerator;

// When the updater asks its channel. Each wait carries a random part, so that
// a plant's desktops that all start at 08:00 do not all ask at 08:00:30, and
// a channel that says when to come back (Retry-After) is heard within bounds.
namespace CheckSchedule {

// A channel's Retry-After is kept between these.
constexpr std::chrono::milliseconds shortestRetry = std::chrono::minutes(1);
constexpr std::chrono::milliseconds longestRetry = std::chrono::hours(24);

// `wait` and a random part of up to `spread` on top, drawn from `random`.
std::chrono::milliseconds spreadOut(std::chrono::milliseconds wait, std::chrono::milliseconds spread,
                                    QRandomGenerator &random);

// The wait a Retry-After value asks for, as seconds or as an HTTP date seen
// from `now`, kept between shortestRetry and longestRetry; nothing when the
// value is missing or not understood.
std::optional<std::chrono::milliseconds> retryAfter(const QByteArray &value, const QDateTime &now);

} // namespace CheckSchedule
