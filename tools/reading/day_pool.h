// Reading many days at once: each day's work on one of a few threads, the
// results handed on in day order on the calling thread, so that output
// comes out as if the days were read one after the other.
#pragma once

#include <cstddef>
#include <functional>

// Threads to read days with: as many as the machine runs at once, at most
// four (a month's reading is bound by memory bandwidth beyond that). The
// environment variable VARDLIX_READING_THREADS, a number from 1 to 64,
// gives the count instead; 1 reads the days one after the other on the
// calling thread, as the tool did before, for benchmarks to compare with.
unsigned ReadingThreads();

// Days that can be held at once by RunInDayOrder with nThreads: day i's
// work starts only once day i - DaySlots(nThreads) is delivered, so that
// slot i % DaySlots(nThreads) of a caller's array is free for day i.
inline size_t DaySlots(unsigned nThreads) { return nThreads < 1 ? 1 : size_t{nThreads} + 1; }

// Runs work(i) for each i below nCount on up to nThreads threads, and hands
// each i to deliver(i) on the calling thread, in the order of i, once its
// work is done. A day's work may start only while fewer than
// DaySlots(nThreads) days are done or under way and not yet delivered:
// memory holds that many days at most, however many there are, and one slow day holds the others
// back instead of letting them pile up. deliver returns false to stop: no
// further work starts, and the work under way is finished and its results
// left undelivered. An exception thrown by work(i) is thrown again at i's
// turn on the calling thread, after the threads have stopped. With nThreads
// of 1 or one day, each day is worked and delivered in turn on the calling
// thread.
void RunInDayOrder(size_t nCount, unsigned nThreads, const std::function<void(size_t)>& work,
                   const std::function<bool(size_t)>& deliver);
