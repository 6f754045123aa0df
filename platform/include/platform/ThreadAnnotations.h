#pragma once
// Clang's thread-safety attributes under short names, so that a lock says
// what it guards in a way the compiler checks (-Wthread-safety, built by the
// clang preset). Other compilers see nothing.
//
//   Platform::Mutex mutex_;
//   std::vector<Item> items_ TAVO_GUARDED_BY(mutex_);
//   void AddLocked(Item item) TAVO_REQUIRES(mutex_);
//   ...
//   Platform::MutexLock lock(mutex_);   // the scoped lock the analysis follows

#if defined(__clang__)
#define TAVO_THREAD_ATTRIBUTE(x) __attribute__((x))
#else
#define TAVO_THREAD_ATTRIBUTE(x)
#endif

// On a lock type: values of it are locks named `kind` in the diagnostics.
#define TAVO_CAPABILITY(kind) TAVO_THREAD_ATTRIBUTE(capability(kind))
// On an RAII type: it holds the lock its constructor acquires.
#define TAVO_SCOPED_CAPABILITY TAVO_THREAD_ATTRIBUTE(scoped_lockable)
// On data: read and written only while holding `lock`.
#define TAVO_GUARDED_BY(lock) TAVO_THREAD_ATTRIBUTE(guarded_by(lock))
// On a pointer: what it points to is guarded by `lock`.
#define TAVO_PT_GUARDED_BY(lock) TAVO_THREAD_ATTRIBUTE(pt_guarded_by(lock))
// On functions: the caller must hold / must not hold the locks.
#define TAVO_REQUIRES(...) TAVO_THREAD_ATTRIBUTE(requires_capability(__VA_ARGS__))
#define TAVO_EXCLUDES(...) TAVO_THREAD_ATTRIBUTE(locks_excluded(__VA_ARGS__))
// On functions: they take / give back / may take the locks.
#define TAVO_ACQUIRE(...) TAVO_THREAD_ATTRIBUTE(acquire_capability(__VA_ARGS__))
#define TAVO_RELEASE(...) TAVO_THREAD_ATTRIBUTE(release_capability(__VA_ARGS__))
#define TAVO_TRY_ACQUIRE(...) TAVO_THREAD_ATTRIBUTE(try_acquire_capability(__VA_ARGS__))
// On a function returning a lock: the lock it returns.
#define TAVO_RETURN_CAPABILITY(lock) TAVO_THREAD_ATTRIBUTE(lock_returned(lock))
// Turns the analysis off for one function; say why next to it.
#define TAVO_NO_THREAD_SAFETY_ANALYSIS TAVO_THREAD_ATTRIBUTE(no_thread_safety_analysis)
