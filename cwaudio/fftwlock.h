#pragma once

#include <mutex>

// FFTW's planner is shared by every thread: plans are made and destroyed
// under this lock (recordings copied side by side, a recording copied while
// listening). Executing a plan needs no lock.
inline std::mutex &fftwPlannerLock() {
    static std::mutex lock;
    return lock;
}
