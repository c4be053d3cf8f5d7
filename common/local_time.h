// The local date and time, read through one replaceable clock: the send log's times, a message's
// Date and Message-ID and a run's estimated end all come from it, and tests fix it. Plain
// standard C++ over the C library's local time.
#pragma once

#include <functional>

namespace tessaly {

struct LocalTime {
    int year = 0;   // four digits
    int month = 0;  // 1-12
    int day = 0;    // 1-31
    int hour = 0;   // 0-23
    int minute = 0;
    int second = 0;
    int utcOffsetMinutes = 0; // local time minus UTC (+540 in Japan)
};
using LocalClock = std::function<LocalTime()>;

// The local date and time of the machine.
LocalTime localNow();

} // namespace tessaly
