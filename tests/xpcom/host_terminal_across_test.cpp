// The terminal mode's search across servers without a network: what a
// person types becomes the criteria sent, the controller's server and row
// lines are read back (tabs inside the last field, short or empty lines),
// each server's outcome is put into words, and a row without a library
// cannot be played.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host_terminal_across.h"

namespace {

TEST(HostSearchAll, WordsBecomeCriteria) {
  const struct {
    const char *typed;
    const char *sent;
  } rows[] = {
      {"Tone", "dc:title contains \"Tone\""},
      {"Rock & Roll <Live>", "dc:title contains \"Rock & Roll <Live>\""},
      {"back\\slash", "dc:title contains \"back\\\\slash\""},
      {"title=Tone&exact=1", "title=Tone&exact=1"},                                    // a simple query
      {"dc:creator contains \"Björk\"", "dc:creator contains \"Björk\""},              // criteria as typed
      {"upnp:class derivedfrom \"object.item\"", "upnp:class derivedfrom \"object.item\""},
  };
  for (const auto &r : rows) EXPECT_EQ(host::search_criteria(r.typed), r.sent) << r.typed;
}

TEST(HostSearchAll, ServerAndRowLinesReadBack) {
  std::vector<host::SearchServer> servers = host::parse_search_servers(
      "uuid:a\tLab Media Server\tanswered\t2\t\n"
      "uuid:b\tQuiet\tskipped\t0\toffers no Search\n"
      "broken line\n"
      "\n"
      "uuid:c\tSilent\tno answer\t0\tno answer within 5000 ms\n"
      "uuid:d\tRefusing\tfailed\t0\tSearch refused: 708 Invalid\tsearch criteria");
  ASSERT_EQ(servers.size(), 4u);
  const char *words[] = {"Lab Media Server answered (2 rows)", "Quiet skipped: offers no Search",
                         "Silent no answer: no answer within 5000 ms",
                         "Refusing failed: Search refused: 708 Invalid\tsearch criteria"};
  for (size_t k = 0; k < servers.size(); ++k) EXPECT_EQ(host::search_server_words(servers[k]), words[k]) << k;
  servers[0].rows = 1;
  EXPECT_EQ(host::search_server_words(servers[0]), "Lab Media Server answered (1 row)");

  std::vector<host::SearchRow> rows = host::parse_search_rows(
      "0\tLong Tone\tobject.item.audioItem.musicTrack\tLab Media Server\tuuid:a,64$1\n"
      "1\tAn album\tobject.container.album.musicAlbum\tRygel\tuuid:b,album\\,1\twith tab\n"
      "2\tno bookmark\n");
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].title, "Long Tone");
  EXPECT_EQ(rows[0].server, "Lab Media Server");
  EXPECT_EQ(rows[0].bookmark, "uuid:a,64$1");
  EXPECT_FALSE(rows[0].container());
  EXPECT_TRUE(rows[1].container());
  EXPECT_EQ(rows[1].bookmark, "uuid:b,album\\,1\twith tab");
}

TEST(HostSearchAll, NothingWithoutTheLibrary) {
  std::vector<std::string> said;
  host::Library none;
  host::TerminalAcross across(none, nullptr, [&](const char *kind, const std::string &text) {
    said.push_back(std::string(kind) + ": " + text);
  }, [] { return false; });
  across.search("Tone");
  EXPECT_FALSE(across.handoff("uuid:a", "uuid:b"));
  host::BrowseEntry e;
  EXPECT_FALSE(across.row(1, e));
  EXPECT_FALSE(across.showing_rows());
  const std::vector<std::string> expected = {
      "error: search-all: this library does not offer it (no lm_nmc_search_all)",
      "error: handoff: this library does not offer it (no lm_nmc_handoff)",
      "error: no row 1 in the search's rows (1-0)"};
  EXPECT_EQ(said, expected);
}

}  // namespace
