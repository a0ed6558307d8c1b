#ifndef KESTREL_NMC_LM_NMC_TEXT_H
#define KESTREL_NMC_LM_NMC_TEXT_H

/* Text helpers of the controller: XML escaping of inserted values, the
 * device-name order of the lists, the host part of a device's URL base. */

#include <string>

/* The XML-escaped form of text (empty for none). */
std::string nmc_xml_escape(const char *text);
/* Case-insensitive comparison of two UTF-8 names, code point by code point
 * (ASCII, Latin-1, Latin Extended-A, Greek and Cyrillic letters fold to
 * lower case; other code points compare as they are; a malformed byte
 * compares as itself). Negative, 0 or positive. */
int nmc_name_compare(const char *a, const char *b);
/* The host of a URL base that starts with "http://": the digits and dots
 * after the prefix up to the first other character, at most 15 of them
 * (an IPv4 address); empty otherwise. */
std::string nmc_ip_of_urlbase(const char *urlbase);

#endif
