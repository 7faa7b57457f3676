#include "status.h"

#include <algorithm>
#include <cstdio>

namespace Status {

namespace {

// A cause is a line of the log; a longer one says nothing more to IT.
constexpr size_t MaxCause = 512;

const char *exitName(Exit kind)
{
    switch (kind) {
    case Exit::Clean:
        return "clean";
    case Exit::Failed:
        return "failed";
    case Exit::Crashed:
        return "crashed";
    case Exit::CouldNotStart:
        return "could-not-start";
    case Exit::None:
        break;
    }
    return "";
}

// The length of the UTF-8 sequence at `at`, 0 when it is not one.
size_t utf8Length(const std::string &text, size_t at)
{
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    size_t length = 0;
    unsigned min = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        min = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        min = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        min = 0x10000;
    } else {
        return 0;
    }
    if (at + length > text.size())
        return 0;
    unsigned code = lead & (0x3F >> (length - 1));
    for (size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80)
            return 0;
        code = (code << 6) | (byte(at + i) & 0x3F);
    }
    // Overlong forms, surrogates and beyond U+10FFFF are no UTF-8 either.
    if (code < min || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF)
        return 0;
    return length;
}

void appendUtf8(std::string &out, unsigned code)
{
    if (code < 0x80) {
        out += char(code);
    } else if (code < 0x800) {
        out += char(0xC0 | (code >> 6));
        out += char(0x80 | (code & 0x3F));
    } else {
        out += char(0xE0 | (code >> 12));
        out += char(0x80 | ((code >> 6) & 0x3F));
        out += char(0x80 | (code & 0x3F));
    }
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The string value of `"key": "…"` on a line of its own, as json() writes it;
// false when there is none. Only what quote() writes is read back.
bool stringField(const std::string &json, const std::string &key, std::string &out)
{
    const std::string opening = "\n  \"" + key + "\": \"";
    size_t at = json.find(opening);
    if (at == std::string::npos)
        return false;
    out.clear();
    for (at += opening.size(); at < json.size(); ++at) {
        const char c = json[at];
        if (c == '"')
            return true;
        if (c == '\n')
            return false;
        if (c != '\\') {
            out += c;
            continue;
        }
        if (++at >= json.size())
            return false;
        switch (json[at]) {
        case '"':
        case '\\':
        case '/':
            out += json[at];
            break;
        case 'n':
            out += '\n';
            break;
        case 'r':
            out += '\r';
            break;
        case 't':
            out += '\t';
            break;
        case 'b':
            out += '\b';
            break;
        case 'f':
            out += '\f';
            break;
        case 'u': {
            if (at + 4 >= json.size())
                return false;
            unsigned code = 0;
            for (int i = 1; i <= 4; ++i) {
                const int digit = hexValue(json[at + size_t(i)]);
                if (digit < 0)
                    return false;
                code = code * 16 + unsigned(digit);
            }
            at += 4;
            // quote() escapes no surrogates; one alone becomes U+FFFD when written again.
            appendUtf8(out, code);
            break;
        }
        default:
            return false;
        }
    }
    return false;
}

void field(std::string &out, const char *key, const std::string &value, bool last = false)
{
    out += "  \"";
    out += key;
    out += "\": ";
    out += value;
    out += last ? "\n" : ",\n";
}

// Only the form isoUtc() writes.
bool isIsoUtc(const std::string &at)
{
    int year, month, day, hour, minute, second;
    return at.size() == 20 && at.back() == 'Z'
            && std::sscanf(at.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d", &year, &month, &day, &hour, &minute,
                           &second)
            == 6;
}

std::string versionOrNull(const std::string &version)
{
    return version.empty() ? "null" : quote(version);
}

} // namespace

std::string quote(const std::string &text)
{
    std::string out = "\"";
    for (size_t at = 0; at < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[at]);
        if (c >= 0x80) {
            const size_t length = utf8Length(text, at);
            if (length == 0) {
                out += "\\ufffd";
                ++at;
            } else {
                out.append(text, at, length);
                at += length;
            }
            continue;
        }
        ++at;
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += char(c);
        }
    }
    return out + "\"";
}

std::string isoUtc(long long secondsSince1970)
{
    // The civil date of a day count (Howard Hinnant's days-to-civil), so that
    // no gmtime, which differs between systems, is needed.
    const long long seconds = std::max(0LL, secondsSince1970);
    const long long days = seconds / 86400, inDay = seconds % 86400;
    const long long z = days + 719468;
    const long long era = z / 146097;
    const long long dayOfEra = z - era * 146097;
    const long long yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const long long dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const long long mp = (5 * dayOfYear + 2) / 153;
    const long long day = dayOfYear - (153 * mp + 2) / 5 + 1;
    const long long month = mp < 10 ? mp + 3 : mp - 9;
    const long long year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
    char text[32];
    std::snprintf(text, sizeof text, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lldZ", year, month, day,
                  inDay / 3600, inDay / 60 % 60, inDay % 60);
    return text;
}

LastExit lastExit(const std::string &version, const StartPlan::Outcome &outcome,
                  const std::string &crashCause, long long at)
{
    LastExit exit;
    exit.version = version;
    exit.at = isoUtc(at);
    const std::string code = "exit code " + std::to_string(outcome.exitCode);
    if (!outcome.started) {
        exit.kind = Exit::CouldNotStart;
        exit.cause = "the program is missing or cannot be run";
    } else if (outcome.notLoaded) {
        exit.kind = Exit::CouldNotStart;
        exit.cause = "a library could not be loaded (" + code + ")";
    } else if (outcome.crashed) {
        exit.kind = Exit::Crashed;
        exit.cause = crashCause;
    } else if (outcome.exitCode != 0) {
        exit.kind = Exit::Failed;
        exit.cause = code;
    } else {
        exit.kind = Exit::Clean;
    }
    return exit;
}

std::string json(const Facts &facts)
{
    const InstallState::State &s = facts.state;
    std::string out = "{\n";
    field(out, "installation_id", s.installationId.empty() ? "null" : quote(s.installationId));
    field(out, "current", versionOrNull(s.current));
    field(out, "previous", versionOrNull(s.previous));
    field(out, "pending", versionOrNull(s.pending));
    field(out, "trial", versionOrNull(s.trial));
    field(out, "trial_starts", std::to_string(s.trialStarts));
    field(out, "started", versionOrNull(facts.started));
    field(out, "started_at",
          facts.started.empty() || facts.startedAt.empty() ? "null" : quote(facts.startedAt));
    field(out, "graphics_level", std::to_string(facts.graphicsLevel));
    field(out, "bad_versions", std::to_string(s.bad.size()));
    field(out, "last_bad", s.bad.empty() ? "null" : quote(s.bad.back()));
    field(out, "crashes", std::to_string(s.crashes));
    field(out, "last_crash_module", s.lastCrashModule.empty() ? "null" : quote(s.lastCrashModule));
    field(out, "last_check_at", s.lastCheckAt == 0 ? "null" : quote(isoUtc(s.lastCheckAt)));
    field(out, "last_check_result", s.lastCheckResult.empty() ? "null" : quote(s.lastCheckResult));
    const bool downloaded = !s.downloadResult.empty();
    field(out, "last_download_result", downloaded ? quote(s.downloadResult) : "null");
    field(out, "last_download_via", downloaded && !s.downloadVia.empty() ? quote(s.downloadVia) : "null");
    field(out, "last_download_from", downloaded && !s.downloadFrom.empty() ? quote(s.downloadFrom) : "null");
    field(out, "last_download_bytes", downloaded ? std::to_string(s.downloadBytes) : "null");
    field(out, "last_download_seconds", downloaded ? std::to_string(s.downloadSeconds) : "null");
    // Only files are made from patches; a package is fetched whole.
    field(out, "last_download_patched",
          downloaded && s.downloadVia == "files" ? std::to_string(s.downloadPatched) : "null");
    const LastExit &exit = facts.lastExit;
    if (exit.kind == Exit::None) {
        field(out, "last_exit", "null", true);
    } else {
        field(out, "last_exit", quote(exitName(exit.kind)));
        field(out, "last_exit_version", versionOrNull(exit.version));
        field(out, "last_exit_at", exit.at.empty() ? "null" : quote(exit.at));
        field(out, "last_exit_cause", exit.cause.empty() ? "null" : quote(exit.cause.substr(0, MaxCause)),
              true);
    }
    return out + "}\n";
}

LastExit readLastExit(const std::string &json)
{
    LastExit exit;
    std::string kind, at;
    if (!stringField(json, "last_exit", kind))
        return exit;
    for (const Exit candidate : { Exit::Clean, Exit::Failed, Exit::Crashed, Exit::CouldNotStart }) {
        if (kind == exitName(candidate))
            exit.kind = candidate;
    }
    if (exit.kind == Exit::None)
        return exit;
    std::string version;
    if (stringField(json, "last_exit_version", version) && InstallState::isValidVersion(version))
        exit.version = version;
    stringField(json, "last_exit_cause", exit.cause);
    exit.cause.resize(std::min(exit.cause.size(), MaxCause));
    if (stringField(json, "last_exit_at", at) && isIsoUtc(at))
        exit.at = at;
    return exit;
}

Facts readFacts(const std::string &json)
{
    Facts facts;
    std::string started, at;
    if (stringField(json, "started", started) && InstallState::isValidVersion(started)) {
        facts.started = started;
        if (stringField(json, "started_at", at) && isIsoUtc(at))
            facts.startedAt = at;
    }
    const std::string level = "\n  \"graphics_level\": ";
    const size_t found = json.find(level);
    if (found != std::string::npos && found + level.size() < json.size()) {
        const char digit = json[found + level.size()];
        if (digit >= '0' && digit <= '3')
            facts.graphicsLevel = digit - '0';
    }
    facts.lastExit = readLastExit(json);
    return facts;
}

} // namespace Status
