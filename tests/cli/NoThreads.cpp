// Put before the system's library with LD_PRELOAD, it makes a program meet a system that starts no
// thread for it, as under a process limit (ulimit -u, a container's) that binds every user but
// root.
#include <pthread.h>

#include <cerrno>

extern "C" int pthread_create(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*) {
  return EAGAIN;
}
