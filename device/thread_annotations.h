// Lock contracts the compiler checks: which lock guards a member, which lock
// a function needs held or must not hold. Clang's thread-safety analysis
// (-Wthread-safety, on in the clang build) proves them; other compilers see
// nothing. libstdc++'s std::mutex carries no such attributes, so the locks
// that state a contract are a Mutex, held through a MutexLock.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

#if defined(__clang__)
#define VELMO_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define VELMO_THREAD_ANNOTATION(x)
#endif

#define CAPABILITY(x) VELMO_THREAD_ANNOTATION(capability(x))
#define SCOPED_CAPABILITY VELMO_THREAD_ANNOTATION(scoped_lockable)
#define GUARDED_BY(x) VELMO_THREAD_ANNOTATION(guarded_by(x))
#define PT_GUARDED_BY(x) VELMO_THREAD_ANNOTATION(pt_guarded_by(x))
#define ACQUIRED_AFTER(...) VELMO_THREAD_ANNOTATION(acquired_after(__VA_ARGS__))
#define ACQUIRED_BEFORE(...) VELMO_THREAD_ANNOTATION(acquired_before(__VA_ARGS__))
#define REQUIRES(...) VELMO_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define ACQUIRE(...) VELMO_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define RELEASE(...) VELMO_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define EXCLUDES(...) VELMO_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define ASSERT_CAPABILITY(x) VELMO_THREAD_ANNOTATION(assert_capability(x))
#define RETURN_CAPABILITY(x) VELMO_THREAD_ANNOTATION(lock_returned(x))
#define NO_THREAD_SAFETY_ANALYSIS VELMO_THREAD_ANNOTATION(no_thread_safety_analysis)

// A std::mutex the analysis can follow.
class CAPABILITY("mutex") Mutex {
 public:
  Mutex() = default;
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

  void Lock() ACQUIRE() { m_mutex.lock(); }
  void Unlock() RELEASE() { m_mutex.unlock(); }

 private:
  friend class CondVar;
  std::mutex m_mutex;
};

// Holds a Mutex for its scope; Unlock and Lock let a wait in the middle
// (a box the user closes) go without it.
class SCOPED_CAPABILITY MutexLock {
 public:
  explicit MutexLock(Mutex& mutex) ACQUIRE(mutex) : m_mutex(mutex) { m_mutex.Lock(); }
  ~MutexLock() RELEASE() {
    if (m_held) m_mutex.Unlock();
  }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

  void Unlock() RELEASE() {
    m_mutex.Unlock();
    m_held = false;
  }
  void Lock() ACQUIRE() {
    m_mutex.Lock();
    m_held = true;
  }

 private:
  Mutex& m_mutex;
  bool m_held = true;
};

// A condition variable over a Mutex the caller holds.
class CondVar {
 public:
  // Waits until notified, the deadline passes, or spuriously; the mutex is
  // held again on return. False when the deadline has passed.
  template <class Clock, class Duration>
  bool WaitUntil(Mutex& mutex, const std::chrono::time_point<Clock, Duration>& deadline)
      REQUIRES(mutex) {
    std::unique_lock<std::mutex> held(mutex.m_mutex, std::adopt_lock);
    const bool inTime = m_cv.wait_until(held, deadline) == std::cv_status::no_timeout;
    held.release();
    return inTime;
  }
  void NotifyAll() { m_cv.notify_all(); }

 private:
  std::condition_variable m_cv;
};
