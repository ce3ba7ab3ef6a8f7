/*
 * Preloaded into the armhf test programs when they run under qemu-user.
 *
 * Qt's QProcess starts children with clone(CLONE_PIDFD) when the kernel
 * answers waitid(P_PIDFD, ...) as if it knew pidfds. Under qemu-user the
 * host kernel answers that probe, but qemu 7.2 refuses CLONE_PIDFD itself,
 * so every child fails to start. Making the probe fail sends Qt down its
 * plain fork() path, the one it takes on kernels without pidfd support.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdarg.h>
#include <stdlib.h>
#include <sys/syscall.h>

#define KVX_P_PIDFD 3

/* Runs before main: children started later (host programs such as tar or
 * sh, executed natively) must not inherit a preload of a foreign class. */
__attribute__((constructor)) static void dropPreload(void) { unsetenv("LD_PRELOAD"); }

long syscall(long number, ...)
{
    /* Forward the words as they were passed: reading six of them is what the
     * C library's own syscall() does, whatever the call's real arity. */
    va_list ap;
    va_start(ap, number);
    long a[6];
    for (int i = 0; i < 6; ++i)
        a[i] = va_arg(ap, long);
    va_end(ap);

    if (number == SYS_waitid && a[0] == KVX_P_PIDFD) {
        errno = ENOSYS;
        return -1;
    }
    static long (*real)(long, ...);
    if (!real)
        real = (long (*)(long, ...))dlsym(RTLD_NEXT, "syscall");
    return real(number, a[0], a[1], a[2], a[3], a[4], a[5]);
}
