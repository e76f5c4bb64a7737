/*
 * Test-only LD_PRELOAD library for Wine runs over pseudo-terminals.
 *
 * A pty has no modem lines: TIOCMGET and TIOCGICOUNT fail on it. Wine's
 * WaitCommEvent polls both and gives up when they fail, so over a pty
 * null-modem pair a pending wait ends about every millisecond instead of
 * waiting for a received character as it does on a real port. This library
 * answers those requests for pty slaves only, and only when the real ioctl
 * failed: lines DTR, RTS, CTS, DSR and CD up, interrupt counters at zero,
 * line changes accepted and ignored. Anything else, and every real serial
 * port, goes to the C library untouched.
 *
 * A pty whose other end has gone (the harness pulled the cable) gets no
 * answers: its requests fail as they really do, so Wine ends a pending wait
 * as it does for a vanished port instead of waiting for ever on invented
 * modem lines.
 *
 * Refusing a speed: while the file named by BENCH_SHIM_REFUSE_FILE holds a
 * rate (decimal), tcsetattr on a pty slave that asks for that rate fails
 * with EINVAL, as a driver that rejects the setting does; Wine's
 * SetCommState then fails.
 *
 * Built for the host (not for Windows) and loaded through
 * with-com-pairs.sh --shim. The programs never depend on it.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <linux/serial.h>
#include <poll.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <termios.h>
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

/* The other end of the pty has gone. */
static int hung_up(int fd)
{
    struct pollfd p = {fd, 0, 0};
    return poll(&p, 1, 0) == 1 && (p.revents & POLLHUP) != 0;
}

/* The rate the refusal file holds, 0 without one. */
static unsigned long refused_rate(void)
{
    const char *path = getenv("BENCH_SHIM_REFUSE_FILE");
    if (!path)
        return 0;
    FILE *f = fopen(path, "r");
    if (!f)
        return 0;
    unsigned long rate = 0;
    if (fscanf(f, "%lu", &rate) != 1)
        rate = 0;
    fclose(f);
    return rate;
}

static unsigned long rate_of(speed_t speed)
{
    static const struct {
        speed_t speed;
        unsigned long rate;
    } rates[] = {{B1200, 1200},   {B2400, 2400},   {B4800, 4800},   {B9600, 9600},
                 {B19200, 19200}, {B38400, 38400}, {B57600, 57600}, {B115200, 115200}};
    for (size_t i = 0; i < sizeof rates / sizeof rates[0]; ++i)
        if (rates[i].speed == speed)
            return rates[i].rate;
    return 0;
}

typedef int (*tcsetattr_fn)(int, int, const struct termios *);

int tcsetattr(int fd, int action, const struct termios *t)
{
    static tcsetattr_fn real_tcsetattr;
    if (!real_tcsetattr)
        real_tcsetattr = (tcsetattr_fn)dlsym(RTLD_NEXT, "tcsetattr");
    if (!real_tcsetattr) {
        errno = ENOSYS;
        return -1;
    }
    if (t && is_pty_slave(fd)) {
        const unsigned long refused = refused_rate();
        if (refused != 0 && rate_of(cfgetospeed(t)) == refused) {
            errno = EINVAL;
            return -1;
        }
    }
    return real_tcsetattr(fd, action, t);
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
    if (!is_pty_slave(fd) || hung_up(fd)) {
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
