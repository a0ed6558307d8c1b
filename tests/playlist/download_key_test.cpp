// Downloads by metadata key from server and queue contexts against a crafted
// ContentDirectory and crafted resources on 127.0.0.1: whole resources with
// the final call 0, an RTSP resource refused before any request, a key
// written as a URL in capitals used as the URL, and the query's errors.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>

#include "http_test_server.h"
#include "nmc/lm_dmscp.h"
#include "nmc/lm_queue.h"
#include "playlist/lm_nmc_download.h"
#include "queue_wpl_util.h"

namespace queue_wpl {
namespace {

struct Received {
  std::mutex mutex;
  std::condition_variable changed;
  std::string data, url;
  int finals = 0;
  uint32_t result = 999;
  bool wait(int ms) {
    std::unique_lock<std::mutex> hold(mutex);
    return changed.wait_for(hold, std::chrono::milliseconds(ms), [this] { return finals > 0; });
  }
  static int callback(uint32_t, void **user_data, const char *url, const char *buffer, uint32_t count) {
    auto *r = static_cast<Received *>(*user_data);
    std::lock_guard<std::mutex> hold(r->mutex);
    r->url = url;
    if (buffer == nullptr) {
      ++r->finals;
      r->result = count;
    } else {
      r->data.append(buffer, count);
    }
    r->changed.notify_all();
    return 1;
  }
};

class DownloadByKey : public QueueWplTest {
 protected:
  void SetUp() override {
    QueueWplTest::SetUp();
    resource_.body = patterned_body(70000);
    file_ = std::make_unique<TestServer>(crafted_handler(resource_));
    const struct {
      const char *id, *url;
    } objects[] = {{"song", nullptr}, {"stream", "rtsp://127.0.0.1:1/live"}};
    for (const auto &o : objects) {
      nmc_test::CdsObject object;
      object.id = o.id;
      object.parent = "0";
      object.title = o.id;
      object.upnp_class = "object.item.audioItem.musicTrack";
      object.extra = "<res protocolInfo=\"http-get:*:audio/mpeg:DLNA.ORG_FLAGS=01700000000000000000000000000000\">" +
                     nmc_test::CdsServer::escape(o.url != nullptr ? o.url : file_->url("/")) + "</res>";
      server_->add(object);
    }
  }
  void TearDown() override {
    QueueWplTest::TearDown();
    file_.reset();
  }
  // The server context standing on the object at index.
  void go_object(uint32_t index) {
    ASSERT_EQ(lm_dmscp_go_home(server_context_), LM_NMC_OK);
    ASSERT_EQ(lm_dmscp_go_index(server_context_, 0), LM_NMC_OK);
    ASSERT_EQ(lm_dmscp_go_directory(server_context_), LM_NMC_OK);
    ASSERT_EQ(lm_dmscp_go_index(server_context_, index), LM_NMC_OK);
  }

  CraftedResource resource_;
  std::unique_ptr<TestServer> file_;
};

TEST_F(DownloadByKey, ServerAndQueueResourcesArriveWhole) {
  std::string capital = file_->url("/");
  capital.replace(0, 4, "HtTp");
  const struct {
    const char *name;
    std::function<lm_nmc_result_t(Received *)> start;
  } cases[] = {
      {"server context, Resource@URI",
       [&](Received *r) {
         go_object(0);
         return lm_dmscp_download(server_context_, r, "Resource@URI", 0, 4096, Received::callback);
       }},
      {"queue context, res",
       [&](Received *r) {
         const std::string url = file_->url("/");
         EXPECT_EQ(lm_queue_add_metadata(context_, url.c_str(), didl("q", "object.item.audioItem", url).c_str()),
                   LM_NMC_OK);
         return lm_queue_download(context_, r, "res", 0, 0, Received::callback);
       }},
      {"a key written as a URL in capitals",
       [&](Received *r) { return lm_dmscp_download(server_context_, r, capital.c_str(), 0, 0, Received::callback); }},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    Received received;
    ASSERT_EQ(c.start(&received), LM_NMC_OK);
    ASSERT_TRUE(received.wait(10000));
    std::lock_guard<std::mutex> hold(received.mutex);
    EXPECT_EQ(received.finals, 1);
    EXPECT_EQ(received.result, LM_NMC_DOWNLOAD_DONE);
    EXPECT_TRUE(received.data == resource_.body) << received.data.size() << " bytes";
    EXPECT_EQ(received.url, file_->url("/")) << "the scheme in lower case";
  }
}

TEST_F(DownloadByKey, RefusalsComeBeforeAnyRequest) {
  go_object(1);
  Received received;
  const size_t requests = file_->requests().size();
  const struct {
    const char *name;
    lm_nmc_result_t result, want;
  } cases[] = {
      {"an RTSP resource", lm_dmscp_download(server_context_, &received, "Resource@URI", 0, 0, Received::callback),
       LM_NMC_INVALID_PARAMETER},
      {"no such occurrence", lm_dmscp_download(server_context_, &received, "Resource@URI", 3, 0, Received::callback),
       LM_NMC_NOT_FOUND},
      {"no key", lm_dmscp_download(server_context_, &received, nullptr, 0, 0, Received::callback),
       LM_NMC_INVALID_PARAMETER},
      {"no callback", lm_dmscp_download(server_context_, &received, "Resource@URI", 0, 0, nullptr),
       LM_NMC_INVALID_PARAMETER},
      {"no query", lm_nmc_download(server_context_, &received, nullptr, "Resource@URI", 0, 0, Received::callback),
       LM_NMC_INVALID_PARAMETER},
      {"a value that is no URL", lm_dmscp_download(server_context_, &received, "dc:title", 0, 0, Received::callback),
       LM_NMC_INVALID_PARAMETER},
  };
  for (const auto &c : cases) EXPECT_EQ(c.result, c.want) << c.name;
  EXPECT_FALSE(received.wait(200));
  EXPECT_EQ(file_->requests().size(), requests);
}

}  // namespace
}  // namespace queue_wpl
