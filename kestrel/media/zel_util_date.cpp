// The current date, with day, month and year taken from a web server's Date
// header when one answers.
#include <strings.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "media/zel_site_config.h"
#include "media/zel_util.h"

namespace {

const char *const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// The date server's answer is read within this (the host waits for it).
constexpr unsigned int kDateDeadlineMs = 5000;

}  // namespace

bool ZelUtil::ApplyHeaderDate(const char *headerText, struct tm *date) {
  if (!headerText || !date) return false;
  const char *line = headerText;
  std::string value;
  bool found = false;
  while (*line) {
    const char *end = std::strchr(line, '\n');
    size_t len = end ? static_cast<size_t>(end - line) : std::strlen(line);
    const char *p = line;
    while (p < line + len && (*p == ' ' || *p == '\t')) ++p;
    if (static_cast<size_t>(line + len - p) >= 7 && std::strncmp(p, "Date = ", 7) == 0) {
      value.assign(p + 7, static_cast<size_t>(line + len - (p + 7)));
      found = true;
      break;
    }
    if (!end) break;
    line = end + 1;
  }
  if (!found) return false;
  size_t comma = value.find(',');
  if (comma != std::string::npos) {
    value.erase(0, comma + 1);
  } else if (!value.empty() && value[0] == '"') {
    value.erase(0, 1);
  }
  size_t gmt = value.find("GMT");
  if (gmt != std::string::npos) value.resize(gmt);
  int day = 0;
  int year = 0;
  char month[4] = {0, 0, 0, 0};  // %3c writes three characters and no terminator
  if (std::sscanf(value.c_str(), "%d%*c%3c%*c%d", &day, month, &year) != 3) return false;
  month[3] = '\0';
  // A day or year no calendar has keeps the local date as well.
  if (day < 1 || day > 31 || year < 1 || year > 9999) return false;
  date->tm_mday = day;
  date->tm_year = year - 1900;
  for (int i = 0; i < 12; ++i) {
    if (strcasecmp(month, kMonths[i]) == 0) {
      date->tm_mon = i;
      break;
    }
  }
  return true;
}

struct tm ZelUtil::GetCurrentDate() {
  time_t now = time(nullptr);
  struct tm local;
  std::memset(&local, 0, sizeof local);
  localtime_r(&now, &local);
  std::string host = zel_site_get(ZEL_SITE_DATE_HOST);
  if (host.empty()) return local;
  char header[8192];
  std::string url = "http://" + host + "/";
  if (GetHttpHeaderWithin(url.c_str(), header, sizeof header, kDateDeadlineMs)) ApplyHeaderDate(header, &local);
  return local;
}
