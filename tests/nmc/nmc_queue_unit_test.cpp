// Renderer queues without a renderer: play index and pending count, play
// modes, shuffling (also from several threads), foreign-stop decisions, the
// texts the queue reads, and the XML queue commands with their errors
// (a failed command leaves the queue as it was).
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "nmc/lm_nmc.h"
#include "nmc/lm_nmc_queue.h"
#include "nmc_test_util.h"

namespace {

void fill(nmc_queue &queue, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    nmc_queue_entry entry;
    entry.url = "http://127.0.0.1/" + std::to_string(i);
    nmc_queue_insert(queue, entry, static_cast<uint32_t>(i));
  }
}

std::vector<std::string> urls(const nmc_queue &queue) {
  std::vector<std::string> out;
  for (const nmc_queue_entry &entry : queue.entries) out.push_back(entry.url);
  return out;
}

TEST(NmcQueueEntries, PlayIndexAndPendingFollowTheRules) {
  struct Case {
    const char *what;
    int current;  // position made current, -1 none
    int removed;  // position removed afterwards, -1 none
    uint32_t mode;
    int index;
    uint32_t pending;
  };
  const Case cases[] = {
      {"no current entry", -1, -1, NMC_QUEUE_MODE_NORMAL, -1, 4},
      {"second of four", 1, -1, NMC_QUEUE_MODE_NORMAL, 1, 2},
      {"last", 3, -1, NMC_QUEUE_MODE_NORMAL, 3, 0},
      {"current removed", 1, 1, NMC_QUEUE_MODE_NORMAL, 0, 2},
      {"first removed while current", 0, 0, NMC_QUEUE_MODE_NORMAL, -1, 3},
      {"last removed while current", 3, 3, NMC_QUEUE_MODE_NORMAL, -1, 3},
      {"other entry removed", 2, 0, NMC_QUEUE_MODE_NORMAL, 1, 1},
      {"repeat one", 1, -1, NMC_QUEUE_MODE_REPEAT_ONE, 1, 0},
      {"direct one", 1, -1, NMC_QUEUE_MODE_DIRECT_1, 1, 0},
      {"no mode", 1, -1, NMC_QUEUE_MODE_NONE, -1, 0},
  };
  for (const Case &c : cases) {
    nmc_queue queue;
    fill(queue, 4);
    queue.play.mode = c.mode;
    if (c.current >= 0) queue.play.current = queue.entries[static_cast<size_t>(c.current)].id;
    if (c.removed >= 0) {
      ASSERT_TRUE(nmc_queue_remove_at(queue, static_cast<uint32_t>(c.removed)));
    }
    int index = 99;
    uint32_t pending = 99;
    nmc_queue_play_index(queue, &index, &pending);
    EXPECT_EQ(index, c.index) << c.what;
    EXPECT_EQ(pending, c.pending) << c.what;
  }
}

TEST(NmcQueueEntries, MovesAndRemovalsKeepTheOtherEntries) {
  struct Case {
    uint32_t start, count;
    int target;
    bool ok;
    std::vector<std::string> order;
  };
  const Case cases[] = {
      {0, 1, -1, true, {"1", "2", "3", "0"}},
      {3, 1, 0, true, {"3", "0", "1", "2"}},
      {0, 1, 2, true, {"1", "0", "2", "3"}},
      {1, 2, 4, true, {"0", "3", "1", "2"}},
      {4, 1, 0, false, {"0", "1", "2", "3"}},
      {2, 3, 0, false, {"0", "1", "2", "3"}},
      {0, 1, 5, false, {"0", "1", "2", "3"}},
  };
  for (const Case &c : cases) {
    nmc_queue queue;
    fill(queue, 4);
    EXPECT_EQ(nmc_queue_move(queue, c.start, c.count, c.target), c.ok) << c.start << "->" << c.target;
    std::vector<std::string> got;
    for (const std::string &url : urls(queue)) got.push_back(url.substr(url.rfind('/') + 1));
    EXPECT_EQ(got, c.order) << c.start << "->" << c.target;
  }
  nmc_queue queue;
  fill(queue, 2);
  EXPECT_FALSE(nmc_queue_remove_at(queue, 2));
  EXPECT_EQ(queue.entries.size(), 2u);
}

TEST(NmcQueueEntries, PlayModesAndRepeat) {
  struct Case {
    uint32_t mode;
    lm_nmc_result_t result;
    bool repeat;
  };
  const Case cases[] = {{NMC_QUEUE_MODE_NORMAL, 0, false},     {NMC_QUEUE_MODE_SHUFFLE, 0, false},
                        {NMC_QUEUE_MODE_REPEAT_ONE, 0, true},  {NMC_QUEUE_MODE_REPEAT_ALL, 0, true},
                        {NMC_QUEUE_MODE_RANDOM, 2, false},     {NMC_QUEUE_MODE_DIRECT_1, 0, false},
                        {6, 2, false},                          {NMC_QUEUE_MODE_NONE, 2, false}};
  for (const Case &c : cases) {
    nmc_queue queue;
    queue.play.mode = NMC_QUEUE_MODE_DIRECT_1 == c.mode ? NMC_QUEUE_MODE_NORMAL : NMC_QUEUE_MODE_DIRECT_1;
    EXPECT_EQ(nmc_queue_set_mode(queue, c.mode), c.result) << c.mode;
    EXPECT_EQ(queue.play.repeat, c.repeat) << c.mode;
    if (c.result == 0) {
      EXPECT_EQ(queue.play.mode, c.mode);
    }
  }
  uint32_t mode = 99;
  EXPECT_TRUE(nmc_queue_mode_of("shuffle", &mode));
  EXPECT_EQ(mode, NMC_QUEUE_MODE_SHUFFLE);
  EXPECT_TRUE(nmc_queue_mode_of("Direct_1", &mode));
  EXPECT_EQ(mode, NMC_QUEUE_MODE_DIRECT_1);
  EXPECT_FALSE(nmc_queue_mode_of("sideways", &mode));
}

TEST(NmcQueueEntries, ShuffleFromManyThreadsKeepsEveryEntry) {
  std::vector<std::thread> threads;
  // One int per thread (a vector<bool> packs them into shared words).
  std::vector<int> permutation(4, 0);
  std::vector<int> moved(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t, &permutation, &moved] {
      nmc_queue queue;
      fill(queue, 50);
      const std::vector<std::string> before = urls(queue);
      for (int round = 0; round < 20; ++round) nmc_queue_shuffle(queue);
      std::vector<std::string> after = urls(queue);
      moved[static_cast<size_t>(t)] = after != before;
      std::sort(after.begin(), after.end());
      std::vector<std::string> sorted = before;
      std::sort(sorted.begin(), sorted.end());
      permutation[static_cast<size_t>(t)] = after == sorted;
    });
  }
  for (std::thread &thread : threads) thread.join();
  for (int t = 0; t < 4; ++t) {
    EXPECT_TRUE(permutation[static_cast<size_t>(t)]) << t;
    EXPECT_TRUE(moved[static_cast<size_t>(t)]) << t;
  }
  std::set<uint32_t> seen;
  for (int i = 0; i < 200; ++i) {
    uint32_t value = nmc_queue_random_below(5);
    EXPECT_LT(value, 5u);
    seen.insert(value);
  }
  EXPECT_EQ(seen.size(), 5u);
  EXPECT_EQ(nmc_queue_random_below(0), 0u);
}

TEST(NmcQueueEntries, ForeignStopDecisions) {
  struct Case {
    const char *what;
    uint64_t duration;
    uint64_t elapsed;
    int previous;
    bool foreign;
  };
  const Case cases[] = {
      {"5 min track stopped after 2 min", 300000, 120000, 1, true},
      {"5 min track stopped 5 s before its end", 300000, 295000, 1, false},
      {"8 s before the end counts as early", 300000, 292000, 1, true},
      {"unknown duration", 0, 1000, 1, false},
      {"99:59:59 is unknown", NMC_QUEUE_UNKNOWN_DURATION, 1000, 3, false},
      {"stopped while paused", 300000, 299000, 3, true},
      {"short track", 7000, 1000, 1, false},
  };
  for (const Case &c : cases) {
    nmc_queue_play play;
    play.duration_ms = c.duration;
    play.start_ms = 1000000;
    EXPECT_EQ(nmc_queue_foreign_stop(play, c.previous, play.start_ms + c.elapsed), c.foreign) << c.what;
  }
}

TEST(NmcQueueText, TimesMetadataAndBookmarks) {
  struct Time {
    const char *text;
    uint64_t ms;
  };
  for (const Time &t : {Time{"0:00:02", 2000}, Time{"1:02:03.5", 3723500}, Time{"00:03.250", 3250},
                        Time{"99:59:59", NMC_QUEUE_UNKNOWN_DURATION}, Time{"NOT_IMPLEMENTED", 0}, Time{"", 0}}) {
    EXPECT_EQ(nmc_queue_parse_time(t.text), t.ms) << t.text;
  }
  uint64_t duration = 0;
  uint64_t size = 0;
  bool image = true;
  nmc_queue_metadata_facts(
      "<DIDL-Lite><item id=\"1\"><upnp:class>object.item.audioItem</upnp:class><res duration=\"0:00:02.000\" "
      "size=\"1000\" protocolInfo=\"http-get:*:audio/mpeg:*\">http://x/a.mp3</res></item></DIDL-Lite>",
      &duration, &size, &image);
  EXPECT_EQ(duration, 2000u);
  EXPECT_EQ(size, 950u);
  EXPECT_FALSE(image);
  nmc_queue_metadata_facts(
      "<DIDL-Lite><item id=\"2\"><res protocolInfo=\"http-get:*:image/jpeg:*\">http://x/a.jpg</res></item></DIDL-Lite>",
      &duration, &size, &image);
  EXPECT_TRUE(image);
  EXPECT_EQ(duration, 0u);

  struct Bookmark {
    const char *text;
    bool ok;
    const char *udn;
    const char *object;
  };
  for (const Bookmark &b : {Bookmark{"uuid:s,64$1,0,1,Music,1,,|2", true, "uuid:s", "64$1"},
                            Bookmark{"uuid:s,a\\,b", true, "uuid:s", "a,b"}, Bookmark{"uuid:s,-", true, "uuid:s", "-"},
                            Bookmark{"uuid:s", false, "", ""}, Bookmark{",1", false, "", ""}}) {
    std::string udn;
    std::string object;
    EXPECT_EQ(nmc_queue_split_bookmark(b.text, &udn, &object), b.ok) << b.text;
    if (b.ok) {
      EXPECT_EQ(udn, b.udn) << b.text;
      EXPECT_EQ(object, b.object) << b.text;
    }
  }
}

// ---- The XML commands, with the controller running.

std::vector<std::string> g_events;
std::mutex g_events_lock;
void record_event(const char *, int, uint32_t event, uint32_t index, uint32_t pending, int) {
  std::lock_guard<std::mutex> hold(g_events_lock);
  g_events.push_back(std::string(nmc_queue_event_name(event)) + " " + std::to_string(index) + " " +
                     std::to_string(pending));
}

class NmcQueueCommands : public nmc_test::NmcTest {
 protected:
  void SetUp() override {
    NmcTest::SetUp();
    ASSERT_EQ(start(), 1);
    std::lock_guard<std::mutex> hold(g_events_lock);
    g_events.clear();
  }
  static std::string query(const std::string &xml) { return nmc_test::api_query(xml); }
  static std::string code(const std::string &response) { return nmc_test::result_code(response); }
  static std::string browse(const std::string &id) {
    return query("<BrowseQueue><QueueID>" + id + "</QueueID></BrowseQueue>");
  }
};

TEST_F(NmcQueueCommands, CommandsChangeTheQueueAndFailuresLeaveItAsItWas) {
  EXPECT_EQ(code(query("<CreateQueue><QueueID>q1</QueueID><RendererIndex>7</RendererIndex></CreateQueue>")), "0");
  EXPECT_EQ(code(query("<CreateQueue><QueueID>q1</QueueID></CreateQueue>")), "12");
  std::string made = query("<CreateQueue/>");
  EXPECT_EQ(code(made), "0");
  EXPECT_NE(made.find("<QueueID>"), std::string::npos);
  EXPECT_NE(query("<GetQueues/>").find("<QueueID>q1</QueueID>"), std::string::npos);
  nmc_queue_find("q1")->callback = record_event;

  for (const char *url : {"http://127.0.0.1/a", "http://127.0.0.1/b", "http://127.0.0.1/c"}) {
    EXPECT_EQ(code(query(std::string("<AddToQueue><QueueID>q1</QueueID><URL>") + url +
                         "</URL><MetaData>&lt;DIDL-Lite/&gt;</MetaData></AddToQueue>")),
              "0");
  }
  EXPECT_EQ(code(query("<AddToQueue><QueueID>q1</QueueID><Bookmark>uuid:srv,12,0,1,x,1,,|2</Bookmark>"
                       "<Index>0</Index></AddToQueue>")),
            "0");
  const std::string full = browse("q1");
  EXPECT_NE(full.find("<TotalMatches>4</TotalMatches>"), std::string::npos) << full;
  EXPECT_NE(full.find("<ServerUDN>uuid:srv</ServerUDN><ObjectID>12</ObjectID>"), std::string::npos) << full;
  EXPECT_NE(full.find("&lt;DIDL-Lite/&gt;"), std::string::npos) << full;

  struct Failure {
    const char *request;
    const char *code;
  };
  const Failure failures[] = {
      {"<AddToQueue><URL>http://x/</URL></AddToQueue>", "2"},
      {"<AddToQueue><QueueID></QueueID><URL>http://x/</URL></AddToQueue>", "2"},
      {"<AddToQueue><QueueID>nope</QueueID><URL>http://x/</URL></AddToQueue>", "2"},
      {"<AddToQueue><QueueID>q1</QueueID></AddToQueue>", "2"},
      {"<AddToQueue><QueueID>q1</QueueID><Bookmark>uuid:srv,-</Bookmark></AddToQueue>", "2"},
      {"<AddToQueue><QueueID>q1</QueueID><URL>http://x/</URL><Index>x</Index></AddToQueue>", "2"},
      {"<RemoveFromQueue><QueueID>q1</QueueID><Index>4</Index></RemoveFromQueue>", "2"},
      {"<RemoveFromQueue><QueueID>q1</QueueID></RemoveFromQueue>", "2"},
      {"<MoveInQueueByIndex><QueueID>q1</QueueID><StartIndex>9</StartIndex><TargetIndex>0</TargetIndex>"
       "</MoveInQueueByIndex>",
       "2"},
      {"<BrowseQueue><QueueID>q1</QueueID><StartIndex>4</StartIndex></BrowseQueue>", "2"},
      {"<IndexOfQueueObject><QueueID>q1</QueueID><Bookmark>uuid:other,1</Bookmark></IndexOfQueueObject>", "9"},
      {"<IndexOfQueueObject><QueueID>q1</QueueID></IndexOfQueueObject>", "2"},
      {"<ChangeQueuePlayMode><QueueID>q1</QueueID><PlayMode>RANDOM</PlayMode></ChangeQueuePlayMode>", "2"},
      {"<SkipQueueObject><QueueID>q1</QueueID><Direction>sideways</Direction></SkipQueueObject>", "2"},
      {"<PlayQueue><QueueID>q1</QueueID><StartIndex>x</StartIndex></PlayQueue>", "2"},
      {"<PlayQueue><QueueID>q1</QueueID><StartIndex>7</StartIndex></PlayQueue>", "2"},
      {"<ReleaseQueue><QueueID>nope</QueueID></ReleaseQueue>", "2"},
  };
  for (const Failure &f : failures) {
    EXPECT_EQ(code(query(f.request)), f.code) << f.request;
    EXPECT_EQ(browse("q1"), full) << f.request;
  }
  EXPECT_NE(query("<AddToQueue><URL>x</URL></AddToQueue>").find("Missing QueueID"), std::string::npos);
  EXPECT_NE(query("<ClearQueue><QueueID>nope</QueueID></ClearQueue>").find("No such queue"), std::string::npos);

  std::string found =
      query("<IndexOfQueueObject><QueueID>q1</QueueID><ServerUDN>uuid:srv</ServerUDN><ObjectID>12</ObjectID>"
            "</IndexOfQueueObject>");
  EXPECT_NE(found.find("<Object index=\"0\"/>"), std::string::npos) << found;
  EXPECT_NE(query("<QueueContainsObject><QueueID>q1</QueueID><Bookmark>uuid:srv,12,0,1,x,1,,|2</Bookmark>"
                  "</QueueContainsObject>")
                .find("<Contains>true</Contains>"),
            std::string::npos);
  EXPECT_EQ(code(query("<MoveInQueueByIndex><QueueID>q1</QueueID><RequestCount>1</RequestCount><StartIndex>0"
                       "</StartIndex><TargetIndex>-1</TargetIndex></MoveInQueueByIndex>")),
            "0");
  EXPECT_NE(query("<IndexOfQueueObject><QueueID>q1</QueueID><Bookmark>uuid:srv,12,0,1,x,1,,|2</Bookmark>"
                  "</IndexOfQueueObject>")
                .find("<Object index=\"3\"/>"),
            std::string::npos);
  EXPECT_EQ(code(query("<RemoveFromQueue><QueueID>q1</QueueID><Index>0</Index></RemoveFromQueue>")), "0");
  EXPECT_EQ(code(query("<ShuffleQueue><QueueID>q1</QueueID></ShuffleQueue>")), "0");
  std::string info = query("<GetQueueInfo><QueueID>q1</QueueID></GetQueueInfo>");
  EXPECT_NE(info.find("<Count>3</Count><Active>false</Active>"), std::string::npos) << info;
  EXPECT_NE(info.find("<CurrentIndex>-1</CurrentIndex><Pending>3</Pending>"), std::string::npos) << info;
  EXPECT_EQ(code(query("<ChangeQueuePlayMode><QueueID>q1</QueueID><PlayMode>REPEAT_ALL</PlayMode>"
                       "</ChangeQueuePlayMode>")),
            "0");
  EXPECT_NE(query("<GetPlayQueueInfo><QueueID>q1</QueueID></GetPlayQueueInfo>").find("<Repeat>true</Repeat>"),
            std::string::npos);
  EXPECT_EQ(code(query("<ClearQueue><QueueID>q1</QueueID></ClearQueue>")), "0");
  EXPECT_NE(browse("q1").find("<TotalMatches>0</TotalMatches>"), std::string::npos);
  {
    std::lock_guard<std::mutex> hold(g_events_lock);
    // Each add tells the new pending count; the index of a queue that plays
    // nothing is sent as 0.
    const std::vector<std::string> want = {"item_added 0 1", "item_added 0 2",   "item_added 0 3", "item_added 0 4",
                                           "item_moved 0 4", "item_removed 0 3", "shuffled 0 3",   "cleared 0 0"};
    EXPECT_EQ(g_events, want);
  }
  EXPECT_EQ(code(query("<ReleaseQueue><QueueID>q1</QueueID></ReleaseQueue>")), "0");
  EXPECT_EQ(code(query("<GetQueueInfo><QueueID>q1</QueueID></GetQueueInfo>")), "2");
}

TEST_F(NmcQueueCommands, ReleasedAtTheStopWithTheOwnersCallback) {
  static std::atomic<int> released{0};
  ASSERT_EQ(code(query("<CreateQueue><QueueID>q2</QueueID></CreateQueue>")), "0");
  nmc_queue_ref queue = nmc_queue_find("q2");
  ASSERT_NE(queue, nullptr);
  queue->release = [](void *, int what) { released += what == 2 ? 1 : 100; };
  ASSERT_EQ(code(query("<AddToQueue><QueueID>q2</QueueID><URL>http://x/</URL></AddToQueue>")), "0");
  ASSERT_TRUE(stop_and_wait());
  EXPECT_EQ(released.load(), 1);
  EXPECT_TRUE(queue->released);
  EXPECT_TRUE(queue->entries.empty());
  EXPECT_EQ(nmc_queue_find("q2"), nullptr);
}

}  // namespace
