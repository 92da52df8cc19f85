// The program's mktime keeps glibc's answers per thread: asked again, or from another thread,
// or after TZ changed, it answers as glibc does, fields and all; and it is the mktime that
// libarchive calls.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "archives/Archives.h"

using namespace quindle;

namespace {

std::tm Fields(int year, int month, int day, int hour, int minute, int second, int isdst) {
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    t.tm_isdst = isdst;
    return t;
}

// The local times a turn of daylight saving time skips or repeats, in Berlin and New York.
std::vector<std::tm> TurnsOfTheClock(int isdst) {
    return {Fields(2021, 3, 28, 2, 30, 0, isdst), Fields(2021, 10, 31, 2, 30, 0, isdst),
            Fields(2021, 3, 14, 2, 30, 0, isdst), Fields(2021, 11, 7, 1, 30, 0, isdst)};
}

// Dates whose answer the fields decide: the turns of the clock asked as summer or winter
// time, fields to be normalized, and dates far from now. (Asked with isdst -1, a time the
// clock skips or repeats gets from glibc whichever answer its guess from the call before
// lands on: see below.)
std::vector<std::tm> Dates() {
    std::vector<std::tm> d;
    for (const int isdst : {0, 1})
        for (const std::tm& t : TurnsOfTheClock(isdst)) d.push_back(t);
    for (const int isdst : {-1, 0, 1}) d.push_back(Fields(2019, 7, 14, 12, 0, 0, isdst));
    d.push_back(Fields(2020, 13, 1, 0, 0, 0, -1));   // month 13: January next year
    d.push_back(Fields(2020, 3, 0, 0, 0, 0, -1));    // day 0: the last of February
    d.push_back(Fields(2020, 6, 30, 23, 59, 60, -1)); // second 60
    d.push_back(Fields(1980, 1, 1, 0, 0, 0, -1));    // the first DOS date
    d.push_back(Fields(2107, 12, 31, 23, 59, 58, -1)); // the last
    d.push_back(Fields(1901, 12, 14, 0, 0, 0, -1));
    d.push_back(Fields(292277026 + 1900, 1, 1, 0, 0, 0, -1)); // as Qt asks, near the end of time_t
    d.push_back(Fields(-292275055, 5, 19, 0, 0, 0, -1));
    return d;
}

void ExpectSame(const std::tm& glibc, time_t glibcSeconds, const std::tm& ours, time_t oursSeconds) {
    EXPECT_EQ(oursSeconds, glibcSeconds);
    EXPECT_EQ(ours.tm_year, glibc.tm_year);
    EXPECT_EQ(ours.tm_mon, glibc.tm_mon);
    EXPECT_EQ(ours.tm_mday, glibc.tm_mday);
    EXPECT_EQ(ours.tm_hour, glibc.tm_hour);
    EXPECT_EQ(ours.tm_min, glibc.tm_min);
    EXPECT_EQ(ours.tm_sec, glibc.tm_sec);
    EXPECT_EQ(ours.tm_wday, glibc.tm_wday);
    EXPECT_EQ(ours.tm_yday, glibc.tm_yday);
    EXPECT_EQ(ours.tm_isdst, glibc.tm_isdst);
    EXPECT_EQ(ours.tm_gmtoff, glibc.tm_gmtoff);
    EXPECT_STREQ(ours.tm_zone, glibc.tm_zone);
}

class TimeZone {
public:
    TimeZone() {
        if (const char* tz = std::getenv("TZ")) saved_ = tz, had_ = true;
    }
    ~TimeZone() {
        if (had_) setenv("TZ", saved_.c_str(), 1);
        else unsetenv("TZ");
        tzset();
    }
    void Set(const char* zone) {
        if (zone) setenv("TZ", zone, 1);
        else unsetenv("TZ");
    }

private:
    std::string saved_;
    bool had_ = false;
};

} // namespace

TEST(LocalTime, AnswersAsGlibcDoesAskedAgainInEveryZoneAndAfterTheZoneChanged) {
    TimeZone zone;
    // The same fields under one zone after another: an answer kept under the zone before
    // must not come back under the next (nor with TZ unset, when nothing is kept).
    for (const char* tz : {"Europe/Berlin", "America/New_York", "UTC", "EST5EDT,M3.2.0,M11.1.0", ":/etc/localtime",
                           static_cast<const char*>(nullptr), "Europe/Berlin"}) {
        SCOPED_TRACE(tz ? tz : "TZ unset");
        zone.Set(tz);
        for (int round = 0; round < 2; ++round)
            for (const std::tm& date : Dates()) {
                SCOPED_TRACE(std::to_string(date.tm_year + 1900) + "-" + std::to_string(date.tm_mon + 1) + "-" +
                             std::to_string(date.tm_mday) + " " + std::to_string(date.tm_hour) + ":" +
                             std::to_string(date.tm_min) + " isdst " + std::to_string(date.tm_isdst) + " round " +
                             std::to_string(round));
                std::tm glibc = date, ours = date;
                const time_t glibcSeconds = timelocal(&glibc);
                const time_t oursSeconds = mktime(&ours);
                ExpectSame(glibc, glibcSeconds, ours, oursSeconds);
            }
    }
}

TEST(LocalTime, ThreadsKeepTheirOwnAnswers) {
    TimeZone zone;
    zone.Set("Europe/Berlin");
    const std::vector<std::tm> dates = Dates();
    std::vector<time_t> expected;
    for (std::tm d : dates) expected.push_back(timelocal(&d));
    std::vector<int> wrong(4, 0);
    std::vector<std::thread> threads;
    for (size_t t = 0; t < wrong.size(); ++t)
        threads.emplace_back([&, t] {
            for (int round = 0; round < 2000; ++round)
                for (size_t i = 0; i < dates.size(); ++i) {
                    std::tm d = dates[(i + t) % dates.size()];
                    if (mktime(&d) != expected[(i + t) % dates.size()]) ++wrong[t];
                }
        });
    for (std::thread& t : threads) t.join();
    for (const int w : wrong) EXPECT_EQ(w, 0);
}

TEST(LocalTime, ATimeTheClockSkipsOrRepeatsGetsOneOfItsTwoAnswers) {
    // Asked without saying whether it is summer time, such a time has two answers, and glibc
    // gives either by what it was asked before; whichever the program kept or gets, it is one
    // of the two, however glibc's guess has moved since.
    TimeZone zone;
    for (const char* tz : {"Europe/Berlin", "America/New_York"}) {
        SCOPED_TRACE(tz);
        zone.Set(tz);
        const std::vector<std::tm> winter = TurnsOfTheClock(0), summer = TurnsOfTheClock(1);
        const std::vector<std::tm> asked = TurnsOfTheClock(-1);
        for (size_t i = 0; i < asked.size(); ++i) {
            std::tm w = winter[i], s = summer[i];
            const time_t a = timelocal(&w), b = timelocal(&s);
            for (const std::tm& other : Dates()) {
                std::tm o = other, again = asked[i];
                timelocal(&o);
                const time_t got = mktime(&again);
                EXPECT_TRUE(got == a || got == b) << i << ": " << got << " is neither " << a << " nor " << b;
            }
        }
    }
}

TEST(LocalTime, LibarchiveCallsTheProgramsMktime) {
    // The program exports its mktime, so libarchive's calls (a zip member's DOS date) reach it
    // rather than glibc's.
    EXPECT_EQ(dlsym(RTLD_DEFAULT, "mktime"), reinterpret_cast<void*>(&mktime));
    EXPECT_NE(dlsym(RTLD_DEFAULT, "timelocal"), reinterpret_cast<void*>(&mktime));
}
