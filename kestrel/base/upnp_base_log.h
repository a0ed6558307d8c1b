#ifndef KESTREL_BASE_UPNP_BASE_LOG_H
#define KESTREL_BASE_UPNP_BASE_LOG_H

/* How the portability layer reports: one formatted line to upnp_log_impl
 * (source LOG_SYSTEM). The logger itself runs on critical sections, memory
 * and threads of this layer, so a report raised while the same thread is
 * already reporting is dropped instead of recursing. Internal. */

#ifdef __cplusplus
extern "C" {
#endif

void upnp_base_log(int level, const char *function, const char *format, ...)
    __attribute__((format(printf, 3, 4)));

/* Test seam: every line of this layer is also handed to `observer` (none to
 * stop) after formatting, on the thread that logs it. */
typedef void (*upnp_base_log_observer)(int level, const char *function, const char *text);
void upnp_base_log_set_observer(upnp_base_log_observer observer);

#ifdef __cplusplus
}
#endif

#endif
