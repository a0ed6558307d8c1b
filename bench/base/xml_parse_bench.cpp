// Parse speed of the library's XML parser on a 1000-item DIDL-Lite Browse
// result, against libxml2's tree parser (xmlReadMemory) and pugixml on the
// same document in the same run. Each parse is timed together with the
// release of its tree. Usage: bench_xml_parse [seconds, default 1.0]
//
// Targets: faster than libxml2, at least 0.8 of pugixml's speed.

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <pugixml.hpp>
#include <string>

#include "base/upnp_mem.h"
#include "base/upnp_xml.h"

namespace {

const char *const kGenres[] = {"Rock", "Jazz", "Classical", "Pop &amp; Dance", "Singer/Songwriter"};
const char *const kArtists[] = {"The Quiet Rivers", "Ana &amp; the Lanterns", "Orchestra of the North",
                                "Miles Apart", "K&#246;lsch Quartet"};

// A ContentDirectory Browse result as a media server returns it: 1000 music
// tracks with title, artist, album, genre, date, track number, album art and
// three resources (original, transcoded, thumbnail) with protocolInfo.
std::string make_didl(int items) {
  std::string d;
  d.reserve(static_cast<size_t>(items) * 1800);
  d += "<DIDL-Lite xmlns=\"urn:schemas-upnp-org:metadata-1-0/DIDL-Lite/\" "
       "xmlns:dc=\"http://purl.org/dc/elements/1.1/\" "
       "xmlns:upnp=\"urn:schemas-upnp-org:metadata-1-0/upnp/\" "
       "xmlns:dlna=\"urn:schemas-dlna-org:metadata-1-0/\">";
  char buf[4096];
  for (int i = 0; i < items; ++i) {
    const char *artist = kArtists[i % 5];
    int album = i / 12;
    snprintf(buf, sizeof buf,
             "<item id=\"64$%X$%X\" parentID=\"64$%X\" restricted=\"1\">"
             "<dc:title>Track %d of the long evening &amp; the morning after</dc:title>"
             "<dc:creator>%s</dc:creator>"
             "<upnp:artist role=\"Performer\">%s</upnp:artist>"
             "<upnp:artist role=\"AlbumArtist\">%s</upnp:artist>"
             "<upnp:album>Collected Recordings, Volume %d</upnp:album>"
             "<upnp:genre>%s</upnp:genre>"
             "<dc:date>%04d-%02d-%02d</dc:date>"
             "<upnp:originalTrackNumber>%d</upnp:originalTrackNumber>"
             "<upnp:albumArtURI dlna:profileID=\"JPEG_TN\">http://192.168.1.20:9000/disk/art/O%d.jpg?scale=160x160"
             "</upnp:albumArtURI>"
             "<upnp:class>object.item.audioItem.musicTrack</upnp:class>"
             "<res protocolInfo=\"http-get:*:audio/flac:DLNA.ORG_OP=01;DLNA.ORG_FLAGS=01700000000000000000000000000000\" "
             "size=\"%d\" duration=\"0:%02d:%02d.000\" bitrate=\"%d\" sampleFrequency=\"44100\" "
             "nrAudioChannels=\"2\" bitsPerSample=\"16\">http://192.168.1.20:9000/disk/music/O%d.flac</res>"
             "<res protocolInfo=\"http-get:*:audio/mpeg:DLNA.ORG_PN=MP3;DLNA.ORG_OP=01;DLNA.ORG_CI=1;"
             "DLNA.ORG_FLAGS=01700000000000000000000000000000\" size=\"%d\" duration=\"0:%02d:%02d.000\" "
             "bitrate=\"40000\" sampleFrequency=\"44100\" nrAudioChannels=\"2\">"
             "http://192.168.1.20:9000/disk/music/O%d.mp3?transcode=mp3&amp;bitrate=320</res>"
             "<res protocolInfo=\"http-get:*:image/jpeg:DLNA.ORG_PN=JPEG_TN;DLNA.ORG_OP=01;DLNA.ORG_CI=1\" "
             "resolution=\"160x160\">http://192.168.1.20:9000/disk/art/O%d.jpg?scale=160x160</res>"
             "</item>",
             i, album, album, i + 1, artist, artist, artist, album + 1, kGenres[album % 5], 1970 + album % 50,
             1 + i % 12, 1 + i % 28, 1 + i % 12, album, 20000000 + i * 977, 2 + i % 9, i % 60, 100000 + i % 5000,
             i, 8000000 + i * 311, 2 + i % 9, i % 60, i, album);
    d += buf;
  }
  d += "</DIDL-Lite>";
  return d;
}

using Clock = std::chrono::steady_clock;

struct Runner {
  const char *name;
  std::function<int()> parse;  // parse + release, returns the item count
  double best = 1e30;          // seconds per parse
  long runs = 0;
};

double mb_per_s(size_t bytes, double seconds) { return static_cast<double>(bytes) / 1e6 / seconds; }

}  // namespace

int main(int argc, char **argv) {
  double budget = argc > 1 ? atof(argv[1]) : 1.0;
  if (budget <= 0 || budget > 60) budget = 1.0;
  upnp_mem_init();
  const int kItems = 1000;
  const std::string doc = make_didl(kItems);
  const size_t size = doc.size();
  xmlInitParser();

  Runner runners[] = {
      {"kestrel upnp_xml_parse",
       [&doc] {
         upnp_xml_node *root = upnp_xml_parse_len(doc.data(), doc.size());
         int n = 0;
         if (root != nullptr) {
           for (upnp_xml_node *c = root->children; c; c = c->next) n++;
         }
         upnp_xml_release(root);
         return n;
       }},
      {"libxml2 xmlReadMemory",
       [&doc] {
         xmlDocPtr d = xmlReadMemory(doc.data(), static_cast<int>(doc.size()), "browse.xml", nullptr,
                                     XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
         int n = 0;
         if (d != nullptr) {
           for (xmlNodePtr c = xmlDocGetRootElement(d)->children; c; c = c->next) n += c->type == XML_ELEMENT_NODE;
         }
         xmlFreeDoc(d);
         return n;
       }},
      {"pugixml load_buffer",
       [&doc] {
         pugi::xml_document d;
         pugi::xml_parse_result r = d.load_buffer(doc.data(), doc.size());
         int n = 0;
         if (r) {
           for (pugi::xml_node c = d.first_child().first_child(); c; c = c.next_sibling()) n++;
         }
         return n;
       }},
  };

  // Interleaved rounds so that every parser sees the same machine load; the
  // best time of each counts.
  const int kRounds = 5;
  const double slice = budget / (kRounds * 3);
  int64_t mem_before = upnp_mem_used();
  for (int round = 0; round < kRounds; ++round) {
    for (Runner &r : runners) {
      auto slice_start = Clock::now();
      do {
        auto t0 = Clock::now();
        int n = r.parse();
        double dt = std::chrono::duration<double>(Clock::now() - t0).count();
        if (n != kItems) {
          fprintf(stderr, "bench_xml_parse: %s found %d items, expected %d\n", r.name, n, kItems);
          return 1;
        }
        r.best = std::min(r.best, dt);
        r.runs++;
      } while (std::chrono::duration<double>(Clock::now() - slice_start).count() < slice);
    }
  }
  if (upnp_mem_used() != mem_before) {
    fprintf(stderr, "bench_xml_parse: accounted memory changed by %lld bytes\n",
            static_cast<long long>(upnp_mem_used() - mem_before));
    return 1;
  }
  xmlCleanupParser();

  printf("XML parse of a %d-item DIDL-Lite Browse result (%zu bytes), best of interleaved runs:\n", kItems, size);
  for (const Runner &r : runners) {
    printf("  %-24s %8.1f MB/s  (%.3f ms per parse, %ld runs)\n", r.name, mb_per_s(size, r.best), r.best * 1e3,
           r.runs);
  }
  double vs_libxml2 = runners[1].best / runners[0].best;
  double vs_pugixml = runners[2].best / runners[0].best;
  printf("ratio kestrel/libxml2: %.2f (target > 1.00) %s\n", vs_libxml2, vs_libxml2 > 1.0 ? "met" : "MISSED");
  printf("ratio kestrel/pugixml: %.2f (target >= 0.80) %s\n", vs_pugixml, vs_pugixml >= 0.8 ? "met" : "MISSED");
  return 0;
}
