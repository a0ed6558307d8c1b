// The stream receiver against the lab's real peers (run through
// tests/lab/lab.sh run): every track, picture and video of the media server
// streams with the events 0 1 2 33 and exactly the bytes of its file; an MP3
// paused, resumed and sought by bytes carries on at the right byte; and the
// plain file server, which ignores Range, still delivers a seek from the
// requested byte on. The progressive download of a lab file ends with an
// equal copy and a full block map, and after a cut in its second block it
// resumes at the first missing block (the requests seen through a relay).
// kestrel-stream downloads a lab file through lm_nmc_download_uri byte-exact
// with the final call 0.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <atomic>

#include "base/upnp_xml.h"
#include "cp/upnp_soap.h"
#include "cp_lab_util.h"
#include "http_test_server.h"
#include "playlist/upnp_progressive.h"
#include "stream_session.h"
#include "support_files.h"
#include "support_wait.h"

namespace fs = std::filesystem;
using cp_lab::env;

namespace {

struct Item {
  std::string title, url, folder;
  long long size = -1;
};

std::string read_file(const fs::path &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

class StreamLab : public cp_lab::LabDevices {
 protected:
  // The items below container id (its sub-containers but those named in
  // skip), each with its first res; folder is the title path below id.
  static void collect(const std::string &id, const std::string &folder, const std::set<std::string> &skip,
                      std::vector<Item> *out) {
    for (uint32_t start = 0;; start += 200) {
      upnp_xml_node *reply = nullptr;
      ASSERT_EQ(upnp_control_browse(server_, id.c_str(), "*", start, 200, nullptr, &reply), 0);
      const char *result = upnp_xml_find_tag_value(reply, "Result");
      upnp_xml_node *doc = result ? upnp_xml_parse(result) : nullptr;
      int n = 0;
      for (upnp_xml_node *e = doc ? doc->children : nullptr; e; e = e->next) {
        if (!e->name) continue;
        ++n;
        const char *oid = upnp_xml_find_attribute_value(e, "id");
        const char *title = upnp_xml_find_tag_value(e->children, "dc:title");
        std::string t = title ? title : "";
        if (std::strcmp(e->name, "container") == 0) {
          if (!skip.count(t) && oid) collect(oid, folder + "/" + t, skip, out);
          continue;
        }
        Item item{t, "", folder};
        for (upnp_xml_node *c = e->children; c; c = c->next) {
          if (!c->name || std::strcmp(c->name, "res") != 0) continue;
          item.url = c->value ? c->value : "";
          const char *size = upnp_xml_find_attribute_value(c, "size");
          if (size) item.size = std::atoll(size);
          break;
        }
        out->push_back(item);
      }
      upnp_xml_release(doc);
      upnp_xml_release(reply);
      if (n < 200) return;
    }
  }

  static std::string container(const std::string &title) {
    upnp_xml_node *reply = nullptr;
    std::string id;
    if (upnp_control_browse(server_, "0", "*", 0, 50, nullptr, &reply) != 0) return id;
    const char *result = upnp_xml_find_tag_value(reply, "Result");
    upnp_xml_node *doc = result ? upnp_xml_parse(result) : nullptr;
    for (upnp_xml_node *e = doc ? doc->children : nullptr; e; e = e->next) {
      const char *t = e->name ? upnp_xml_find_tag_value(e->children, "dc:title") : nullptr;
      const char *oid = upnp_xml_find_attribute_value(e, "id");
      if (t && oid && title == t) id = oid;
    }
    upnp_xml_release(doc);
    upnp_xml_release(reply);
    return id;
  }

  // The media server's URL of the lab's file (relative to LAB_MEDIA), found
  // by its MD5 among the items of the folders.
  static std::string url_of(const std::string &relative) {
    std::string want = stream_md5_of(read_file(fs::path(env("LAB_MEDIA")) / relative));
    std::vector<Item> items;
    collect(container("Browse Folders"), "", {"bulk", "big"}, &items);
    for (const Item &item : items) {
      StreamSession s(StreamSessionOptions{});
      if (s.start(item.url) == STREAM_OK && s.wait_end(10000) && s.md5() == want) return item.url;
    }
    return "";
  }
};

// Streams url with the buffer and pace; records the session's results.
struct WholeRun {
  std::string codes, md5;
  uint64_t bytes = 0;
  uint32_t final_code = 0;
};

WholeRun stream_whole(const std::string &url, uint32_t buffer) {
  StreamSessionOptions options;
  options.buffer_size = buffer;
  StreamSession s(options);
  WholeRun r;
  if (s.start(url) != STREAM_OK || !s.wait_end(20000)) return r;
  r.codes = s.codes();
  r.md5 = s.md5();
  r.bytes = s.bytes();
  r.final_code = s.final_code();
  return r;
}

bool wait_code(StreamSession &s, uint32_t code, int ms) {
  for (int waited = 0; waited < ms; waited += 10) {
    for (const StreamRecord &r : s.records())
      if (r.code == code) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

TEST_F(StreamLab, EveryTrackPictureAndVideoStreamsByteExact) {
  ASSERT_GE(server_, 0);
  // The originals by MD5: the tracks, pictures and video the server serves
  // from its folders (the album art beside the tracks is no item of its own).
  const fs::path media = env("LAB_MEDIA");
  std::map<std::string, std::string> originals;  // md5 -> path below LAB_MEDIA
  for (const char *dir : {"music", "pictures", "video"})
    for (const auto &f : fs::recursive_directory_iterator(media / dir))
      if (f.is_regular_file() && f.path().filename() != "cover.jpg")
        originals[stream_md5_of(read_file(f.path()))] = fs::relative(f.path(), media).string();
  ASSERT_GE(originals.size(), 11u);

  std::vector<Item> items;
  collect(container("Browse Folders"), "", {"bulk", "big"}, &items);
  ASSERT_EQ(items.size(), originals.size());
  std::set<std::string> streamed;
  for (const Item &item : items) {
    SCOPED_TRACE(item.folder + "/" + item.title + " " + item.url);
    // A buffer smaller than every file, so that each arrives in several pieces.
    WholeRun r = stream_whole(item.url, 4096);
    EXPECT_EQ(r.codes, "0 1 2 33");
    EXPECT_EQ(static_cast<long long>(r.bytes), item.size);
    auto original = originals.find(r.md5);
    ASSERT_NE(original, originals.end()) << "no file has the MD5 " << r.md5;
    streamed.insert(original->second);
  }
  EXPECT_EQ(streamed.size(), originals.size());

  // A sample of the bulk container: distinct copies of one track.
  std::vector<Item> bulk;
  collect(container("Browse Folders"), "", {"music", "pictures", "video", "big"}, &bulk);
  ASSERT_GE(bulk.size(), 5u);
  for (size_t i = 0; i < bulk.size(); i += bulk.size() / 5) {
    SCOPED_TRACE(bulk[i].title);
    WholeRun r = stream_whole(bulk[i].url, 16384);
    EXPECT_EQ(r.codes, "0 1 2 33");
    // "Bulk Track 0042" is bulk/bulk-0042.mp3
    const std::string &t = bulk[i].title;
    ASSERT_GE(t.size(), 4u);
    EXPECT_EQ(r.md5, stream_md5_of(read_file(media / "bulk" / ("bulk-" + t.substr(t.size() - 4) + ".mp3"))));
  }
}

TEST_F(StreamLab, Mp3PausedResumedAndSoughtCarriesOnAtTheRightByte) {
  ASSERT_GE(server_, 0);
  const std::string relative = "music/Alpha Artist/First Album/03 - Long Tone.mp3";
  const std::string original = read_file(fs::path(env("LAB_MEDIA")) / relative);
  ASSERT_GT(original.size(), 150000u);
  const std::string url = url_of(relative);
  ASSERT_FALSE(url.empty());

  StreamSessionOptions options;
  options.buffer_size = 16384;
  options.pace_kib_s = 250;  // about 0.8 s for the track
  options.reference = &original;
  StreamSession s(options);
  ASSERT_EQ(s.start(url), STREAM_OK);
  ASSERT_TRUE(s.wait_bytes(40000, 5000));
  ASSERT_NE(s.features() & STREAM_FEATURE_BYTE_SEEK, 0u) << "the server offers byte seeks for MP3";
  ASSERT_EQ(s.pause(), STREAM_OK);
  ASSERT_TRUE(wait_code(s, STREAM_EVENT_PAUSED, 5000));
  const uint64_t paused_at = s.bytes();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(s.bytes(), paused_at) << "nothing delivered while paused";
  ASSERT_EQ(s.resume(), STREAM_OK);
  ASSERT_TRUE(s.wait_bytes(paused_at + 30000, 5000));
  const int64_t target = 150000;
  ASSERT_EQ(s.seek_bytes(target), STREAM_OK);
  ASSERT_TRUE(s.wait_end(10000));

  EXPECT_EQ(s.final_code(), STREAM_EVENT_END);
  EXPECT_EQ(s.codes(), "0 1 2 3 2 16 2 33");
  EXPECT_EQ(s.mismatches(), 0u) << "every piece holds the original's bytes at its position";
  std::vector<StreamRecord> runs;
  for (const StreamRecord &r : s.records())
    if (r.code == STREAM_EVENT_DATA) runs.push_back(r);
  ASSERT_EQ(runs.size(), 3u);
  EXPECT_EQ(runs[0].position, 0);
  EXPECT_EQ(runs[0].bytes, paused_at);
  EXPECT_EQ(runs[1].position, static_cast<int64_t>(paused_at)) << "resume carries on where the pause was";
  EXPECT_EQ(runs[2].position, target);
  EXPECT_EQ(runs[2].position + static_cast<int64_t>(runs[2].bytes), static_cast<int64_t>(original.size()));
  for (const StreamRecord &r : runs) EXPECT_EQ(r.breaks, 0);
}

TEST_F(StreamLab, FileServerIgnoringRangeStillSeeksToTheRequestedByte) {
  // The plain file server answers every GET with the whole file (200): what
  // comes before the requested byte is dropped, never delivered as if it
  // started there.
  const std::string relative = "music/Alpha Artist/First Album/03 - Long Tone.mp3";
  const std::string original = read_file(fs::path(env("LAB_MEDIA")) / relative);
  const std::string url = cp_lab::http_url("media/music/Alpha%20Artist/First%20Album/03%20-%20Long%20Tone.mp3");
  StreamSessionOptions options;
  options.buffer_size = 16384;
  options.pace_kib_s = 250;
  options.reference = &original;
  StreamSession s(options);
  ASSERT_EQ(s.start(url), STREAM_OK);
  ASSERT_TRUE(s.wait_bytes(32000, 5000));
  const int64_t target = 150001;
  ASSERT_EQ(s.seek_bytes(target), STREAM_OK);
  ASSERT_TRUE(s.wait_end(10000));
  EXPECT_EQ(s.final_code(), STREAM_EVENT_END);
  EXPECT_EQ(s.codes(), "0 1 2 16 2 33");
  EXPECT_EQ(s.mismatches(), 0u);
  std::vector<StreamRecord> records = s.records();
  ASSERT_FALSE(records.empty());
  const StreamRecord &last_run = records[records.size() - 2];
  EXPECT_EQ(last_run.position, target);
  EXPECT_EQ(last_run.position + static_cast<int64_t>(last_run.bytes), static_cast<int64_t>(original.size()));
  StreamMd5 tail;
  tail.update(original.data() + target, original.size() - static_cast<size_t>(target));
  EXPECT_EQ(last_run.md5, tail.hex());
}

// A relay on 127.0.0.1 (inside the lab's namespace) to the media server at
// host:port: bytes go both ways unchanged; each GET seen is recorded with
// the server, and the answer to the first GET is cut once cut_after bytes of
// it were relayed (npos: never).
TestServer::Handler relay_to(const std::string &host, int port, size_t cut_after, std::atomic<int> *gets) {
  return [host, port, cut_after, gets](TestServer &server, int client, const std::string &request) {
    int up = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, host.c_str(), &to.sin_addr);
    if (up < 0 || connect(up, reinterpret_cast<sockaddr *>(&to), sizeof to) != 0) {
      if (up >= 0) close(up);
      return;
    }
    bool cut = false;  // this connection carries the first GET
    auto sent_up = [&](const std::string &text) {
      if (text.compare(0, 4, "GET ") == 0 && gets->fetch_add(1) == 0) cut = cut_after != std::string::npos;
      return TestServer::send_all(up, text);
    };
    size_t relayed = 0;
    if (sent_up(request)) {
      pollfd fds[2] = {{client, POLLIN, 0}, {up, POLLIN, 0}};
      char buffer[65536];
      while (poll(fds, 2, 10000) > 0) {
        if (fds[0].revents) {
          ssize_t n = recv(client, buffer, sizeof buffer, 0);
          if (n <= 0) break;
          std::string more(buffer, static_cast<size_t>(n));
          // A kept connection's next request.
          if (more.compare(0, 5, "HEAD ") == 0 || more.compare(0, 4, "GET ") == 0) server.record_request(more);
          if (!sent_up(more)) break;
        }
        if (fds[1].revents) {
          ssize_t n = recv(up, buffer, sizeof buffer, 0);
          if (n <= 0) break;
          size_t take = static_cast<size_t>(n);
          if (cut && relayed + take > cut_after) take = cut_after - relayed;
          if (!TestServer::send_all(client, std::string(buffer, take))) break;
          relayed += take;
          if (cut && relayed >= cut_after) break;
        }
      }
    }
    close(up);
  };
}


uint32_t progressive_state() {
  uint32_t state = 0;
  upnp_renderer_progressive_status(nullptr, nullptr, &state);
  return state;
}

bool progressive_ends_in(uint32_t want) {
  test_support::wait_until([] {
    uint32_t s = progressive_state();
    return s == DOWNLOAD_STATE_COMPLETE || s == DOWNLOAD_STATE_FAILED;
  }, 15000);
  return progressive_state() == want;
}

int progressive_start(const std::string &url, const std::string &path) {
  return upnp_renderer_get_progressive_stream(nullptr, 0, url.c_str(), path.c_str(), nullptr, 0, nullptr, nullptr);
}

TEST_F(StreamLab, ProgressiveDownloadEndsEqualAndResumesAtTheFirstMissingBlock) {
  ASSERT_GE(server_, 0);
  const std::string relative = "music/Alpha Artist/First Album/03 - Long Tone.mp3";  // 12 blocks
  const std::string original = read_file(fs::path(env("LAB_MEDIA")) / relative);
  ASSERT_GT(original.size(), 3u * DOWNLOAD_BLOCK_SIZE);
  const std::string url = url_of(relative);
  // http://HOST:PORT/PATH
  const size_t host_at = url.find("://") + 3, port_at = url.find(':', host_at), path_at = url.find('/', host_at);
  ASSERT_TRUE(host_at > 3 && port_at < path_at && path_at != std::string::npos) << url;
  const std::string host = url.substr(host_at, port_at - host_at), resource = url.substr(path_at);
  const int port = std::atoi(url.c_str() + port_at + 1);
  const std::string full_map((original.size() + DOWNLOAD_BLOCK_SIZE - 1) / DOWNLOAD_BLOCK_SIZE, '\1');

  struct Case {
    const char *name;
    bool cut;           // the first answer is cut in the second block
    bool from_disk;     // resumed by a new download of the files left on disk
    std::vector<long long> ranges;  // the GETs that reached the media server
  };
  const Case cases[] = {
      {"whole", false, false, {0}},
      {"cut in the second block, started again", true, false, {0, DOWNLOAD_BLOCK_SIZE}},
      {"cut in the second block, cancelled, resumed from the files", true, true, {0, DOWNLOAD_BLOCK_SIZE}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    test_support::TempDir dir("kestrel-progressive-lab");
    const std::string path = (dir.path() / "copy.mp3").string();
    std::atomic<int> gets{0}, gets_after{0};
    // About 400 bytes of header, then the first block and 8 KiB of the second.
    TestServer relay(relay_to(host, port, c.cut ? 25000 : std::string::npos, &gets));
    TestServer second(relay_to(host, port, std::string::npos, &gets_after));
    ASSERT_EQ(progressive_start(relay.url(resource), path), STREAM_OK);
    if (c.cut) {
      ASSERT_TRUE(progressive_ends_in(DOWNLOAD_STATE_FAILED));
      int64_t readable = 0;
      upnp_renderer_progressive_status(&readable, nullptr, nullptr);
      EXPECT_EQ(readable, DOWNLOAD_BLOCK_SIZE);
      if (c.from_disk) {
        upnp_renderer_cancel_progressive();
        EXPECT_EQ(test_support::read_file(path + "_bm"), "\1" + std::string(full_map.size() - 1, '\0'));
        // Another URL of the same file: the download knows only the files.
        ASSERT_EQ(progressive_start(second.url(resource), path), STREAM_OK);
      } else {
        ASSERT_EQ(progressive_start(relay.url(resource), path), STREAM_OK);
      }
    }
    ASSERT_TRUE(progressive_ends_in(DOWNLOAD_STATE_COMPLETE));
    upnp_renderer_cancel_progressive();
    EXPECT_TRUE(test_support::read_file(path) == original) << "the copy differs from the original";
    EXPECT_EQ(test_support::read_file(path + "_bm"), full_map);
    std::vector<long long> ranges = relay.get_ranges(), after = second.get_ranges();
    ranges.insert(ranges.end(), after.begin(), after.end());
    EXPECT_EQ(ranges, c.ranges);
  }
}

// The controller's download of a URL, run by kestrel-stream in a process of
// its own (the controller cannot share this process's control point): the
// lab file's bytes exactly, and the final call 0.
TEST_F(StreamLab, DownloadOfALabFileIsByteExactWithFinalZero) {
  ASSERT_GE(server_, 0);
  const std::string relative = "music/Alpha Artist/First Album/03 - Long Tone.mp3";
  const std::string original = read_file(fs::path(env("LAB_MEDIA")) / relative);
  const std::string url = url_of(relative);
  ASSERT_FALSE(url.empty());
  test_support::TempDir dir("kestrel-download-lab");
  const std::string path = (dir.path() / "copy.mp3").string(), out = (dir.path() / "out.txt").string();
  // A buffer smaller than the file, so that it comes in several pieces.
  const std::string command = std::string("'") + KESTREL_STREAM + "' -m download -q -b 8192 -t 30 -o '" + path +
                              "' '" + url + "' > '" + out + "' 2>&1";
  const int status = std::system(command.c_str());
  const std::string printed = read_file(out);
  ASSERT_TRUE(WIFEXITED(status)) << printed;
  EXPECT_EQ(WEXITSTATUS(status), 0) << printed;
  EXPECT_NE(printed.find("final done"), std::string::npos) << printed;
  EXPECT_NE(printed.find("delivered " + std::to_string(original.size()) + " bytes"), std::string::npos) << printed;
  EXPECT_TRUE(read_file(path) == original) << "the download differs from the original";
}

}  // namespace
