// Parts of one parsed tree released on different threads at once: the block
// store behind the tree must be given back exactly once, after the last part.

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "base/upnp_mem.h"
#include "base/upnp_xml.h"

namespace {

TEST(XmlThreads, SubtreesReleasedConcurrently) {
  upnp_mem_init();
  std::string doc = "<DIDL-Lite>";
  for (int i = 0; i < 64; ++i) {
    doc += "<item id='" + std::to_string(i) + "'><dc:title>T " + std::to_string(i) +
           "</dc:title><res protocolInfo='http-get:*:audio/mpeg:*'>http://h/" + std::to_string(i) + "</res></item>";
  }
  doc += "</DIDL-Lite>";
  const int64_t before = upnp_mem_used();
  for (int round = 0; round < 20; ++round) {
    upnp_xml_node *root = upnp_xml_parse(doc.c_str());
    ASSERT_NE(root, nullptr);
    // Detach the items into four groups, each handed to its own thread.
    std::vector<upnp_xml_node *> groups(4, nullptr);
    std::vector<upnp_xml_node **> tails;
    for (auto &g : groups) tails.push_back(&g);
    int n = 0;
    for (upnp_xml_node *item = root->children; item;) {
      upnp_xml_node *next = item->next;
      item->next = nullptr;
      *tails[n % 4] = item;
      tails[n % 4] = &item->next;
      item = next;
      ++n;
    }
    root->children = nullptr;
    ASSERT_EQ(n, 64);
    std::vector<std::thread> threads;
    for (upnp_xml_node *g : groups) {
      threads.emplace_back([g] {
        // Read before releasing, so that a store freed early would show.
        EXPECT_NE(upnp_xml_find_tag_value(g, "dc:title"), nullptr);
        upnp_xml_release(g);
      });
    }
    upnp_xml_release(root);
    for (auto &t : threads) t.join();
    EXPECT_EQ(upnp_mem_used(), before);
  }
}

}  // namespace
