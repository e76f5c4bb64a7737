/*
 * Test-only LD_PRELOAD library for Wine runs over pseudo-terminals.
 *
 * A pty has no modem lines: TIOCMGET and TIOCGICOUNT fail on it. Wine's
 * WaitCommEvent polls both and gives up when they fail, so over a socat
 * null-modem pair a pending wait ends about every millisecond instead of
 * waiting for a received character as it does on a real port. This library
 * answers those requests for pty slaves only, and only when the real ioctl
 * failed: lines DTR, RTS, CTS, DSR and CD up, interrupt counters at zero,
 * line changes accepted and ignored. Anything else, and every real serial
 * port, goes to the C library untouched.
 *
 * Built for the host (not for Windows) and loaded through
 * with-com-pairs.sh --shim. The programs never depend on it.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <linux/serial.h>
#include <stdarg.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

typedef int (*ioctl_fn)(int, unsigned long, ...);

/* Unix98 pty slaves use majors 136..143. */
static int is_pty_slave(int fd)
{
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode))
        return 0;
    const unsigned int maj = major(st.st_rdev);
    return maj >= 136 && maj <= 143;
}

int ioctl(int fd, unsigned long request, ...)
{
    static ioctl_fn real_ioctl;
    va_list ap;
    va_start(ap, request);
    void *arg = va_arg(ap, void *);
    va_end(ap);

    if (!real_ioctl)
        real_ioctl = (ioctl_fn)dlsym(RTLD_NEXT, "ioctl");
    if (!real_ioctl) {
        errno = ENOSYS;
        return -1;
    }
    const int rc = real_ioctl(fd, request, arg);
    if (rc == 0)
        return rc;
    const int saved = errno;
    if (!is_pty_slave(fd)) {
        errno = saved;
        return rc;
    }
    switch (request) {
    case TIOCMGET:
        if (!arg)
            break;
        *(int *)arg = TIOCM_DTR | TIOCM_RTS | TIOCM_CTS | TIOCM_DSR | TIOCM_CD;
        return 0;
    case TIOCMSET:
    case TIOCMBIS:
    case TIOCMBIC:
        return 0;
    case TIOCGICOUNT:
        if (!arg)
            break;
        memset(arg, 0, sizeof(struct serial_icounter_struct));
        return 0;
    default:
        break;
    }
    errno = saved;
    return rc;
}
