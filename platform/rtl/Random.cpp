#include "platform/rtl/Random.h"

#include <pthread.h>
#include <time.h>
#include <unistd.h>

#include <mutex>

namespace plat {

std::atomic<uint32_t> RandSeed{0};

namespace {

// Advances the seed and returns the new value. The update is one atomic step
// so threads drawing at once never get the same number from one seed.
uint32_t NextSeed() {
  uint32_t seed = RandSeed.load(std::memory_order_relaxed);
  uint32_t next;
  do {
    next = seed * 0x08088405u + 1u;
  } while (!RandSeed.compare_exchange_weak(seed, next, std::memory_order_relaxed));
  return next;
}

// Final mixing step of a 64-bit hash: every input bit reaches every output bit.
uint64_t Mix(uint64_t x) {
  x ^= x >> 30;
  x *= 0xBF58476D1CE4E5B9ull;
  x ^= x >> 27;
  x *= 0x94D049BB133111EBull;
  x ^= x >> 31;
  return x;
}

uint64_t Nanoseconds(clockid_t clock) {
  timespec now{};
  clock_gettime(clock, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000000000u + static_cast<uint64_t>(now.tv_nsec);
}

// Uses only async-signal-safe calls: it also runs in a freshly forked child.
void Reseed() {
  uint64_t h = Mix(static_cast<uint64_t>(getpid()) ^ 0x9E3779B97F4A7C15ull);
  h = Mix(h ^ Nanoseconds(CLOCK_REALTIME));
  h = Mix(h ^ Nanoseconds(CLOCK_MONOTONIC));
  RandSeed.store(static_cast<uint32_t>(h ^ (h >> 32)), std::memory_order_relaxed);
}

std::once_flag forkHookInstalled;

}  // namespace

int32_t Random(int32_t range) {
  if (range <= 0) return 0;
  // The high half of seed * range is evenly spread over [0, range) and uses
  // the seed's better high bits.
  return static_cast<int32_t>((static_cast<uint64_t>(NextSeed()) * static_cast<uint32_t>(range)) >>
                              32);
}

double RandomFloat() {
  return static_cast<double>(NextSeed()) * (1.0 / 4294967296.0);
}

void Randomize() {
  // A forked child would otherwise continue its parent's sequence and draw
  // the very lock bytes its parent draws.
  std::call_once(forkHookInstalled, [] { pthread_atfork(nullptr, nullptr, &Reseed); });
  Reseed();
}

}  // namespace plat
