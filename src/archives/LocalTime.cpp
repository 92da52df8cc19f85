// The local time zone, read once, and local dates turned into seconds without waiting on it.
//
// libarchive turns every zip member's DOS date into seconds with mktime, once for its entry
// in the central directory and once for its local header. glibc's mktime takes the time
// zone's lock several times a call, so two threads listing archives wait on each other for
// it; with the lock and the zone's lookups that was a fifth of the time a zip of small
// members takes to list. This program's mktime gives glibc's own answers (timelocal is the
// same function under another name), kept per thread: under the same TZ the same fields
// always give the same answer, which is all glibc's own cache of the zone assumes. A change
// of TZ empties the keep; with TZ unset (glibc then looks at /etc/localtime at every call)
// nothing is kept. (A local time that a turn of daylight saving time skips or repeats, asked
// with tm_isdst -1, has two answers, and glibc gives either by its guess from the call
// before; so may this, from what it kept.)
#include "archives/Archives.h"

#include <array>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

namespace quindle {

void ReadTimeZoneOnce() {
    if (!std::getenv("TZ")) setenv("TZ", ":/etc/localtime", 0);
}

namespace {

struct KeptTime {
    std::tm in{}, out{};
    time_t seconds = 0;
    bool valid = false;
};

bool SameFields(const std::tm& a, const std::tm& b) {
    return a.tm_sec == b.tm_sec && a.tm_min == b.tm_min && a.tm_hour == b.tm_hour && a.tm_mday == b.tm_mday &&
           a.tm_mon == b.tm_mon && a.tm_year == b.tm_year && a.tm_isdst == b.tm_isdst;
}

struct TimeKeep {
    std::string zone; // the TZ the answers were given under
    std::array<KeptTime, 256> kept{};

    KeptTime& Slot(const std::tm& t) {
        // Unsigned: the fields may be anything (Qt asks about years of hundreds of millions).
        const auto u = [](int v) { return static_cast<unsigned>(v); };
        const unsigned h = u(t.tm_year) * 977u + u(t.tm_mon) * 433u + u(t.tm_mday) * 211u + u(t.tm_hour) * 97u +
                           u(t.tm_min) * 31u + u(t.tm_sec) * 7u + u(t.tm_isdst);
        return kept[(h ^ (h >> 8)) % kept.size()];
    }
};

} // namespace

} // namespace quindle

extern "C" time_t mktime(struct tm* t) {
    using quindle::KeptTime;
    const char* zone = std::getenv("TZ");
    if (!zone || !t) return timelocal(t);
    thread_local quindle::TimeKeep keep;
    if (keep.zone != zone) {
        keep.zone = zone;
        keep.kept.fill(KeptTime{});
    }
    KeptTime& slot = keep.Slot(*t);
    if (slot.valid && quindle::SameFields(slot.in, *t)) {
        *t = slot.out;
        return slot.seconds;
    }
    const std::tm in = *t;
    const time_t seconds = timelocal(t);
    if (seconds == static_cast<time_t>(-1)) return seconds; // an error, or the second before 1970: asked again
    slot.in = in;
    slot.out = *t;
    slot.seconds = seconds;
    slot.valid = true;
    return seconds;
}
