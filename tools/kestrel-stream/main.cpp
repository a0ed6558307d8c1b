// kestrel-stream: pulls a URL through the library's stream receiver and
// prints each event as it comes (runs of data pieces folded into one line
// with their bytes, starting position and MD5), then the bytes and MD5 of
// everything delivered. Pause, resume, seeks by byte or by time and stop are
// sent at given times. Talking to a lab peer: run it inside the lab
// (tests/lab/lab.sh run kestrel-stream ...).
//
// Mode "progressive" runs a progressive download of the URL into the data
// file given with -o (block map beside it, "_bm" appended), printing state,
// readable position and block map as it fills; Ctrl-C ends it keeping the
// files, and a second run with the same -o resumes at the first missing
// block. With -r a reader follows the download (buffer -b, pace -k).
//
// Mode "download" downloads the URL through the controller's
// lm_nmc_download_uri (the controller starts by itself, without its network
// stack), printing the bytes as they come and the final call's result;
// -o writes the bytes to FILE, -p gives the resource's protocolInfo, and the
// action stop makes the callback answer 0 at its next piece.
//
//   kestrel-stream [-m MODE] [-b BYTES] [-k KIB_S] [-a MS:ACTION]... [-t SECONDS] [-q] [-l LOGFILE]
//                  [-o FILE] [-r] [-p PROTOCOLINFO] URL
//     -m  what to do with the URL: "stream" (the default), "progressive" or "download"
//     -b  the consumer's buffer (default 65536 bytes, at most 64 MiB)
//     -k  consume at most KIB_S KiB/s (so that actions fall inside a short stream)
//     -a  at MS milliseconds after the start: pause, resume, stop, seek=BYTE or
//         tseek=MS (a time seek: sent only where the server offers one); repeatable
//     -t  give up after SECONDS (default 60)
//     -q  print only the summary
//     -l  write the library's log (level info) to LOGFILE
//     -o  progressive: the data file   -r  progressive: a reader follows
//         (progressive actions: stop, as Ctrl-C; seek=BYTE restarts the
//         download at that byte's block)
//     -o  download: write the bytes to FILE   -p  download: the protocolInfo
//         (-k paces the download's callback too)
//         (download actions: stop)
// Exit code: 0 when the stream ended (event 33), the progressive download is
// complete (and its reader ended) or the download's final call said 0; 1
// otherwise, 2 usage.
#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/upnp_ini_file.h"
#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "download_run.h"
#include "progressive_run.h"
#include "stream_session.h"

namespace {

struct Action {
  long ms = 0;
  std::string what;  // pause, resume, stop, seek, tseek
  int64_t value = 0;
};

struct Options {
  std::string mode = "stream";
  uint32_t buffer = 64 * 1024;
  uint32_t pace = 0;
  int seconds = 60;
  bool quiet = false;
  const char *log = nullptr;
  std::string file;
  bool reader = false;
  std::string protocol_info;
  std::vector<Action> actions;
  std::string url;
};

void usage() {
  std::fprintf(stderr,
               "usage: kestrel-stream [-m stream|progressive|download] [-b BYTES] [-k KIB_S] [-a MS:ACTION]... "
               "[-t SECONDS] [-q] "
               "[-l LOGFILE] [-o FILE] [-r] [-p PROTOCOLINFO] URL\n"
               "  ACTION: pause, resume, stop, seek=BYTE, tseek=MS (progressive: stop, seek=BYTE)\n"
               "  -o FILE: the progressive download's data file (block map FILE_bm); -r: a reader follows it\n"
               "  download: -o FILE receives the bytes, -p the resource's protocolInfo; ACTION stop only\n");
}

bool parse_action(const char *text, Action *a) {
  char *end = nullptr;
  a->ms = std::strtol(text, &end, 10);
  if (end == text || *end != ':' || a->ms < 0) return false;
  std::string rest = end + 1;
  size_t eq = rest.find('=');
  a->what = rest.substr(0, eq);
  if (a->what == "pause" || a->what == "resume" || a->what == "stop") return eq == std::string::npos;
  if ((a->what != "seek" && a->what != "tseek") || eq == std::string::npos) return false;
  const char *v = rest.c_str() + eq + 1;
  a->value = std::strtoll(v, &end, 10);
  return end != v && *end == '\0' && a->value >= 0;
}

bool parse(int argc, char **argv, Options *o) {
  int c;
  while ((c = getopt(argc, argv, "m:b:k:a:t:ql:o:rp:h")) != -1) {
    Action a;
    switch (c) {
      case 'm': o->mode = optarg; break;
      case 'b': {
        unsigned long long n = std::strtoull(optarg, nullptr, 10);
        o->buffer = n > (64u << 20) ? 0 : static_cast<uint32_t>(n);  // 0: refused below
        break;
      }
      case 'k': o->pace = static_cast<uint32_t>(std::strtoul(optarg, nullptr, 10)); break;
      case 't': o->seconds = std::atoi(optarg); break;
      case 'q': o->quiet = true; break;
      case 'l': o->log = optarg; break;
      case 'o': o->file = optarg; break;
      case 'r': o->reader = true; break;
      case 'p': o->protocol_info = optarg; break;
      case 'a':
        if (!parse_action(optarg, &a)) {
          std::fprintf(stderr, "kestrel-stream: bad action '%s'\n", optarg);
          return false;
        }
        o->actions.push_back(a);
        break;
      default: return false;
    }
  }
  if (optind != argc - 1 || o->buffer == 0 || o->seconds <= 0) return false;
  o->url = argv[optind];
  std::stable_sort(o->actions.begin(), o->actions.end(), [](const Action &x, const Action &y) { return x.ms < y.ms; });
  return true;
}

void print_record(const StreamRecord &r) {
  if (r.code == STREAM_EVENT_DATA && r.open) {
    std::printf("%9.1f ms  DATA     from byte %" PRId64 "\n", r.ms, r.position);
  } else if (r.code == STREAM_EVENT_DATA) {
    std::printf("%9.1f ms  (data)   %" PRIu64 " bytes in %u pieces from byte %" PRId64 "%s, md5 %s\n", r.ms, r.bytes,
                r.pieces, r.position, r.breaks ? " (with gaps)" : "", r.md5.c_str());
  } else if (r.code == STREAM_EVENT_HEADER || r.code == STREAM_EVENT_SEEK) {
    std::printf("%9.1f ms  %-8s header of %" PRIu64 " bytes, position %" PRId64 "\n", r.ms, stream_event_name(r.code),
                r.bytes, r.position);
  } else {
    std::printf("%9.1f ms  %-8s (%u) at byte %" PRId64 "\n", r.ms, stream_event_name(r.code), r.code, r.position);
  }
  std::fflush(stdout);
}

std::string feature_names(uint64_t f) {
  static const struct {
    uint64_t bit;
    const char *name;
  } names[] = {{STREAM_FEATURE_BYTE_SEEK, "byte-seek"}, {STREAM_FEATURE_TIME_SEEK, "time-seek"},
               {STREAM_FEATURE_CONVERTED, "converted"}, {STREAM_FEATURE_STALL, "stall"},
               {STREAM_FEATURE_PROTECTED, "protected"}, {STREAM_FEATURE_LIVE, "live"},
               {STREAM_FEATURE_NO_SEEK, "no-seek"}};
  std::string out;
  for (const auto &n : names)
    if (f & n.bit) out += (out.empty() ? "" : ",") + std::string(n.name);
  return out.empty() ? "-" : out;
}

// The action's result; -1 when it was not sent.
int act(StreamSession &s, const Action &a) {
  if (a.what == "pause") return s.pause();
  if (a.what == "tseek" && !(s.features() & STREAM_FEATURE_TIME_SEEK)) {
    std::printf("%9.1f ms  -> tseek %" PRId64 " ms: not sent, the server offers no time seek for this resource\n",
                s.seconds() * 1000.0, a.value);
    return -1;
  }
  if (a.what == "resume") return s.resume();
  if (a.what == "seek") return s.seek_bytes(a.value);
  if (a.what == "tseek") return s.seek_time(a.value);
  s.stop();
  return STREAM_OK;
}

int run_stream(const Options &o) {
  StreamSessionOptions so;
  so.buffer_size = o.buffer;
  so.pace_kib_s = o.pace;
  if (!o.quiet) so.on_record = print_record;
  StreamSession s(so);
  if (!o.quiet) std::printf("streaming %s (buffer %u bytes)\n", o.url.c_str(), o.buffer);
  int rc = s.start(o.url);
  if (rc != STREAM_OK) {
    std::fprintf(stderr, "kestrel-stream: the stream did not start (%d)\n", rc);
    return 1;
  }
  for (const Action &a : o.actions) {
    double wait = a.ms - s.seconds() * 1000.0;
    if (wait > 0 && s.wait_end(static_cast<int>(wait))) break;
    int result = act(s, a);
    if (!o.quiet && result >= 0) {
      std::printf("%9.1f ms  -> %s", s.seconds() * 1000.0, a.what.c_str());
      if (a.what == "seek" || a.what == "tseek") std::printf(" %" PRId64 "%s", a.value, a.what == "tseek" ? " ms" : "");
      std::printf(": %d\n", result);
      std::fflush(stdout);
    }
  }
  bool ended = s.wait_end(o.seconds * 1000);
  if (!ended) s.stop();
  double secs = s.seconds();
  uint64_t bytes = s.bytes();
  std::printf("content type %s, length %" PRId64 ", features %s\n", s.content_type().c_str(), s.total_length(),
              feature_names(s.features()).c_str());
  std::printf("events %s\n", s.codes().c_str());
  std::printf("delivered %" PRIu64 " bytes, md5 %s, final %s (%u), %.3f s, %.1f MB/s\n", bytes, s.md5().c_str(),
              ended ? stream_event_name(s.final_code()) : "none (timed out)", s.final_code(), secs,
              secs > 0 ? bytes / secs / 1e6 : 0.0);
  return s.final_code() == STREAM_EVENT_END ? 0 : 1;
}

int run_progressive_mode(const Options &o) {
  ProgressiveOptions p;
  p.url = o.url;
  p.path = o.file;
  p.reader = o.reader;
  p.buffer = o.buffer;
  p.pace_kib_s = o.pace;
  p.seconds = o.seconds;
  p.quiet = o.quiet;
  if (p.path.empty()) {
    std::fprintf(stderr, "kestrel-stream: -m progressive needs -o FILE\n");
    return 2;
  }
  for (const Action &a : o.actions) {
    if (a.what == "stop") {
      if (p.stop_ms < 0) p.stop_ms = a.ms;
    } else if (a.what == "seek") {
      p.seeks.emplace_back(a.ms, a.value);
    } else {
      std::fprintf(stderr, "kestrel-stream: -m progressive takes only the actions stop and seek\n");
      return 2;
    }
  }
  return run_progressive(p);
}

int run_download_mode(const Options &o) {
  DownloadOptions d;
  d.url = o.url;
  d.protocol_info = o.protocol_info;
  d.path = o.file;
  d.buffer = o.buffer;
  d.pace_kib_s = o.pace;
  d.seconds = o.seconds;
  d.quiet = o.quiet;
  for (const Action &a : o.actions) {
    if (a.what != "stop") {
      std::fprintf(stderr, "kestrel-stream: -m download takes only the action stop\n");
      return 2;
    }
    if (d.stop_ms < 0) d.stop_ms = a.ms;
  }
  return run_download(d);
}

// The modes: each takes the parsed options and answers the exit code.
const struct {
  const char *name;
  int (*run)(const Options &);
} kModes[] = {{"stream", run_stream}, {"progressive", run_progressive_mode}, {"download", run_download_mode}};

}  // namespace

int main(int argc, char **argv) {
  Options o;
  if (!parse(argc, argv, &o)) {
    usage();
    return 2;
  }
  int (*run)(const Options &) = nullptr;
  for (const auto &m : kModes)
    if (o.mode == m.name) run = m.run;
  if (!run) {
    std::fprintf(stderr, "kestrel-stream: unknown mode '%s'\n", o.mode.c_str());
    return 2;
  }
  upnp_mem_init();
  if (o.log) {
    upnp_log_init(o.log);
    upnp_log_set_level(LOG_LEVEL_INFO);
    upnp_log_set_sources(0xFFFFFFFFu);
  } else {
    upnp_log_set_level(LOG_LEVEL_CRITICAL);
  }
  upnp_ini_file_init();
  int rc = run(o);
  upnp_ini_file_release();
  if (o.log) upnp_log_exit();
  return rc;
}
