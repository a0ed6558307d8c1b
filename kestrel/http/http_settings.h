#ifndef KESTREL_HTTP_HTTP_SETTINGS_H
#define KESTREL_HTTP_HTTP_SETTINGS_H

/* Process-wide settings of the HTTP client: the User-Agent text with its lock
 * and the two time-outs. Written rarely (start-up, the controller's controls),
 * read by every exchange. */

#ifdef __cplusplus
extern "C" {
#endif

/* Longest user agent kept (characters, without the terminating zero). */
#define HTTP_USER_AGENT_MAX 127

/* Set first by a request built before anyone set a user agent. */
#define HTTP_FALLBACK_USER_AGENT "zelConnect Lumet/6.0 DLNADOC/1.50"

/* Does nothing while the user agent is locked; otherwise stores at most 127
 * characters (none stores the empty text) and locks. */
void HTTP_set_default_user_agent(const char *text);
/* Unlocks the user agent so that the next HTTP_set_default_user_agent wins. */
void HTTP_make_user_agent_settable(void);
/* Copies the current user agent into buffer (at most size-1 characters); when
 * none was set yet the fallback user agent is set (and locked) first. */
void HTTP_get_default_user_agent(char *buffer, unsigned int size);

/* Seconds; both store the new value and return the previous one. */
unsigned int HTTP_set_connection_timeout(unsigned int seconds);
unsigned int HTTP_set_soap_timeout(unsigned int seconds);
unsigned int HTTP_get_connection_timeout(void);
unsigned int HTTP_get_soap_timeout(void);

#ifdef __cplusplus
}
#endif

#endif
